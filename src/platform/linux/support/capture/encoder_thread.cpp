#include "platform/linux/support/capture/encoder_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tamborix::jpeg {

void becomeEncoderThread(const char* name) {
    ::pthread_setname_np(::pthread_self(), name);
    // Raising one's own nice value needs no privilege; should it fail, frames still come.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), encoderNice);
}

}  // namespace tamborix::jpeg
