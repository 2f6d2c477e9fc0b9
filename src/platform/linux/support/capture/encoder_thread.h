#pragma once
// The thread that grabs and encodes pictures for the live view.

namespace tamborix::jpeg {

// The nice value of that thread: below the main thread's. A picture may come a little later; a
// click, a ping or a pairing reply should not wait for a core while a frame is encoded. With
// fewer cores than busy threads the scheduler otherwise lets the encoder finish its slice first.
inline constexpr int encoderNice = 10;

// Names the calling thread (as `top -H` shows it) and lowers it to `encoderNice`.
void becomeEncoderThread(const char* name);

}  // namespace tamborix::jpeg
