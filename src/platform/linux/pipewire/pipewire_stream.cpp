#include "platform/linux/pipewire/pipewire_stream.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tamborix::pipewire {

struct PipeWireStreams::Stream {
    PipeWireStreams* owner = nullptr;
    std::uint32_t node = 0;
    pw_stream* stream = nullptr;
    spa_hook hook{};
    // Written on the PipeWire thread only.
    std::uint32_t format = 0;  // spa_video_format
    int width = 0;
    int height = 0;
    Frame newest;  // under owner->mutex_
};

namespace {

bool directOrder(std::uint32_t format) {
    return format == SPA_VIDEO_FORMAT_BGRx || format == SPA_VIDEO_FORMAT_BGRA;
}

// Bytes R, G, B, x to the words 0xAARRGGBB (bytes B, G, R, A).
void swapRedBlue(const std::uint8_t* in, std::uint8_t* out, int width) {
    for (int x = 0; x < width; ++x, in += 4, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = in[3];
    }
}

}  // namespace

struct PipeWireStreams::Callbacks {
    static void stateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
        auto* s = static_cast<Stream*>(data);
        if (state != PW_STREAM_STATE_ERROR) return;
        std::lock_guard lock(s->owner->mutex_);
        if (s->owner->error_.empty())
            s->owner->error_ = std::string("PipeWire: ") + (error ? error : "the stream failed");
    }

    static void paramChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto* s = static_cast<Stream*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0) return;
        s->format = info.format;
        s->width = static_cast<int>(info.size.width);
        s->height = static_cast<int>(info.size.height);
        // Mapped memory only: a DMA-BUF would need the GPU to read it back.
        std::uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        pw_stream_update_params(s->stream, params, 1);
    }

    static void process(void* data) {
        auto* s = static_cast<Stream*>(data);
        pw_buffer* newest = nullptr;
        // Only the last of several queued buffers is worth converting.
        while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
            if (newest) pw_stream_queue_buffer(s->stream, newest);
            newest = b;
        }
        if (!newest) return;
        keep(*s, *newest->buffer);
        pw_stream_queue_buffer(s->stream, newest);
    }

    static void keep(Stream& s, const spa_buffer& buffer) {
        if (buffer.n_datas < 1 || s.width <= 0 || s.height <= 0) return;
        const spa_data& d = buffer.datas[0];
        if (!d.data || !d.chunk || d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
            return;
        const bool direct = directOrder(s.format);
        if (!direct && s.format != SPA_VIDEO_FORMAT_RGBx && s.format != SPA_VIDEO_FORMAT_RGBA) return;
        const std::uint64_t row = std::uint64_t(s.width) * 4;
        const std::uint64_t stride = d.chunk->stride > 0 ? std::uint64_t(d.chunk->stride) : row;
        const std::uint64_t offset = d.chunk->offset;
        // A chunk that claims more than its buffer holds is dropped, not read past.
        if (stride < row || offset + stride * std::uint64_t(s.height - 1) + row > d.maxsize) return;
        const auto* src = static_cast<const std::uint8_t*>(d.data) + offset;
        std::lock_guard lock(s.owner->mutex_);
        Frame& f = s.newest;
        f.width = s.width;
        f.height = s.height;
        f.pixels.resize(row * std::uint64_t(s.height));
        std::uint8_t* out = f.pixels.data();
        for (int y = 0; y < s.height; ++y, src += stride, out += row) {
            if (direct) {
                std::memcpy(out, src, row);
            } else {
                swapRedBlue(src, out, s.width);
            }
        }
        ++f.serial;
    }
};

std::unique_ptr<PipeWireStreams> PipeWireStreams::open(int fd, const std::vector<std::uint32_t>& nodes,
                                                       std::string& error) {
    pw_init(nullptr, nullptr);
    std::unique_ptr<PipeWireStreams> self(new PipeWireStreams);
    self->loop_ = pw_thread_loop_new("tamborix-screen", nullptr);
    if (self->loop_) self->context_ = pw_context_new(pw_thread_loop_get_loop(self->loop_), nullptr, 0);
    if (!self->context_ || pw_thread_loop_start(self->loop_) < 0) {
        ::close(fd);
        error = "PipeWire: cannot start its loop";
        return nullptr;
    }
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Callbacks::stateChanged;
        e.param_changed = &Callbacks::paramChanged;
        e.process = &Callbacks::process;
        return e;
    }();

    pw_thread_loop_lock(self->loop_);
    self->core_ = pw_context_connect_fd(self->context_, fd, nullptr, 0);
    if (!self->core_) {
        const int e = errno;
        pw_thread_loop_unlock(self->loop_);
        error = std::string("PipeWire: cannot connect (") + std::strerror(e) + ")";
        return nullptr;
    }
    int rc = 0;
    for (const std::uint32_t node : nodes) {
        auto s = std::make_unique<Stream>();
        s->owner = self.get();
        s->node = node;
        s->stream = pw_stream_new(self->core_, "tamborix-screen",
                                  pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                    "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (!s->stream) {
            rc = -errno;
            break;
        }
        pw_stream_add_listener(s->stream, &s->hook, &events, s.get());
        std::uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        spa_rectangle defSize{1920, 1080}, minSize{1, 1}, maxSize{16384, 16384};
        spa_fraction defRate{30, 1}, minRate{0, 1}, maxRate{240, 1};
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
            SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                                   SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
        rc = pw_stream_connect(s->stream, PW_DIRECTION_INPUT, node,
                               static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                               params, 1);
        self->streams_.push_back(std::move(s));
        if (rc < 0) break;
    }
    pw_thread_loop_unlock(self->loop_);
    if (rc < 0) {
        error = std::string("PipeWire: cannot connect a stream (") + std::strerror(-rc) + ")";
        return nullptr;
    }
    return self;
}

PipeWireStreams::~PipeWireStreams() {
    if (loop_) pw_thread_loop_stop(loop_);
    for (auto& s : streams_) {
        if (s->stream) pw_stream_destroy(s->stream);
    }
    if (core_) pw_core_disconnect(core_);
    if (context_) pw_context_destroy(context_);
    if (loop_) pw_thread_loop_destroy(loop_);
}

bool PipeWireStreams::newest(std::uint32_t node, Frame& out) const {
    std::lock_guard lock(mutex_);
    for (const auto& s : streams_) {
        if (s->node != node) continue;
        if (s->newest.serial == 0 || s->newest.serial == out.serial) return false;
        out.width = s->newest.width;
        out.height = s->newest.height;
        out.pixels.assign(s->newest.pixels.begin(), s->newest.pixels.end());
        out.serial = s->newest.serial;
        return true;
    }
    return false;
}

std::string PipeWireStreams::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

}  // namespace tamborix::pipewire
