#include "platform/linux/desktop/pipewire/pipewire_stream.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/owned.h"

namespace tamborix::pipewire {

namespace {

// `ended` and `failed` are final: a node id freed by the desktop may be handed to another node
// (a camera, another window), which the stream must never show.
enum class Phase { waiting, streaming, stopped, ended, failed };

bool readable(std::uint32_t format) {
    return format == SPA_VIDEO_FORMAT_BGRx || format == SPA_VIDEO_FORMAT_BGRA ||
           format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}

const std::string dmaBufOnly = "a screen offered only as DMA-BUF (GPU memory) cannot be read by this helper";

}  // namespace

struct PipeWireStreams::Stream {
    PipeWireStreams* owner = nullptr;
    std::uint32_t node = 0;
    Owned<pw_stream, pw_stream_destroy> stream;  // its listener goes with it
    spa_hook hook{};
    // The negotiated format; written and read on the PipeWire thread only.
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
    // Under owner->mutex_.
    Phase phase = Phase::waiting;
    std::string problem;
    pw_buffer* held = nullptr;
    MappedFrame frame;  // describes `held`

    // Destroying the stream reports its last state change; without this the callback would write
    // into members that are already gone.
    ~Stream() {
        if (stream) spa_hook_remove(&hook);
    }
};

namespace {
void destroyRegistry(pw_registry* registry) { pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry)); }
}  // namespace

// Members in the order they are made, so that each is freed before what it was made from.
struct PipeWireStreams::Connection {
    Owned<pw_thread_loop, pw_thread_loop_destroy> loop;
    Owned<pw_context, pw_context_destroy> context;
    Owned<pw_core, pw_core_disconnect> core;
    spa_hook coreHook{};
    Owned<pw_registry, destroyRegistry> registry;
    spa_hook registryHook{};

    ~Connection() {
        if (registry) spa_hook_remove(&registryHook);
        if (core) spa_hook_remove(&coreHook);
    }
};

struct PipeWireStreams::Callbacks {
    // Hands the held buffer back; on the PipeWire thread.
    static void release(Stream& s) {
        pw_buffer* old = nullptr;
        {
            std::lock_guard lock(s.owner->mutex_);
            old = s.held;
            s.held = nullptr;
        }
        if (old) pw_stream_queue_buffer(s.stream.get(), old);
    }

    static void setPhase(Stream& s, Phase phase, std::string problem) {
        std::lock_guard lock(s.owner->mutex_);
        if (s.phase == Phase::ended || s.phase == Phase::failed) return;
        s.phase = phase;
        s.problem = std::move(problem);
    }

    static void stateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
        auto& s = *static_cast<Stream*>(data);
        Phase phase = Phase::waiting;
        {
            std::lock_guard lock(s.owner->mutex_);
            phase = s.phase;
        }
        if (state == PW_STREAM_STATE_STREAMING) {
            setPhase(s, Phase::streaming, {});
        } else if (state == PW_STREAM_STATE_ERROR) {
            release(s);
            std::string why = std::string("PipeWire: ") + (error ? error : "the stream failed");
            // Nothing negotiated yet: most likely the desktop offers only what cannot be mapped.
            if (phase == Phase::waiting) why += " (" + dmaBufOnly + ")";
            setPhase(s, Phase::failed, std::move(why));
        } else if (phase == Phase::streaming) {
            // Paused, or on its way out: a stale picture must not pass for the screen.
            release(s);
            setPhase(s, Phase::stopped, "PipeWire: the screen-cast stream of node " + std::to_string(s.node) +
                                            " paused");
        }
    }

    static void paramChanged(void* data, std::uint32_t id, const spa_pod* param) {
        auto& s = *static_cast<Stream*>(data);
        if (id != SPA_PARAM_Format) return;
        s.format = 0;
        if (!param) return;
        spa_video_info_raw info{};
        if (spa_format_video_raw_parse(param, &info) < 0 || !readable(info.format)) {
            setPhase(s, Phase::failed, "PipeWire: the screen-cast stream chose a pixel format this helper cannot read");
            return;
        }
        if (info.flags & SPA_VIDEO_FLAG_MODIFIER) {
            setPhase(s, Phase::failed, "PipeWire: " + dmaBufOnly);
            return;
        }
        s.format = info.format;
        s.width = static_cast<int>(info.size.width);
        s.height = static_cast<int>(info.size.height);
        // Mapped memory only: a DMA-BUF would need the GPU to read it back.
        std::uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        pw_stream_update_params(s.stream.get(), params, 1);
    }

    // The desktop stopped sharing a monitor: its node is gone for good.
    static void globalRemoved(void* data, std::uint32_t id) {
        auto& self = *static_cast<PipeWireStreams*>(data);
        for (auto& s : self.streams_) {
            if (s->node != id) continue;
            release(*s);
            setPhase(*s, Phase::ended, "PipeWire: the screen-cast stream of node " + std::to_string(id) + " ended");
            pw_stream_disconnect(s->stream.get());
        }
    }

    static void removeBuffer(void* data, pw_buffer* buffer) {
        auto& s = *static_cast<Stream*>(data);
        std::lock_guard lock(s.owner->mutex_);
        if (s.held == buffer) s.held = nullptr;
    }

    static void process(void* data) {
        auto& s = *static_cast<Stream*>(data);
        pw_buffer* newest = nullptr;
        // Only the last of several queued buffers is worth keeping.
        while (pw_buffer* b = pw_stream_dequeue_buffer(s.stream.get())) {
            if (newest) pw_stream_queue_buffer(s.stream.get(), newest);
            newest = b;
        }
        if (!newest) return;
        MappedFrame frame;
        bool over = false;
        {
            std::lock_guard lock(s.owner->mutex_);
            over = s.phase == Phase::ended || s.phase == Phase::failed;
        }
        if (over || !describe(s, *newest->buffer, frame)) {
            pw_stream_queue_buffer(s.stream.get(), newest);
            return;
        }
        pw_buffer* old = nullptr;
        {
            std::lock_guard lock(s.owner->mutex_);
            old = s.held;
            s.held = newest;
            frame.serial = s.frame.serial + 1;
            s.frame = frame;
        }
        if (old) pw_stream_queue_buffer(s.stream.get(), old);
    }

    static bool describe(Stream& s, const spa_buffer& buffer, MappedFrame& out) {
        if (buffer.n_datas < 1 || s.format == 0 || s.width <= 0 || s.height <= 0) return false;
        const spa_data& d = buffer.datas[0];
        if (d.type == SPA_DATA_DmaBuf) {
            setPhase(s, Phase::failed, "PipeWire: " + dmaBufOnly);
            return false;
        }
        if (!d.data || !d.chunk || d.chunk->size == 0 || (d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED))
            return false;
        const std::uint64_t row = std::uint64_t(s.width) * 4;
        const std::uint64_t stride = d.chunk->stride > 0 ? std::uint64_t(d.chunk->stride) : row;
        const std::uint64_t offset = d.chunk->offset;
        // A chunk that claims more than its buffer holds is dropped, not read past.
        if (stride < row || stride > (1u << 30) ||
            offset + stride * std::uint64_t(s.height - 1) + row > d.maxsize)
            return false;
        out.data = static_cast<const std::uint8_t*>(d.data) + offset;
        out.stride = static_cast<int>(stride);
        out.width = s.width;
        out.height = s.height;
        out.redFirst = s.format == SPA_VIDEO_FORMAT_RGBx || s.format == SPA_VIDEO_FORMAT_RGBA;
        return true;
    }

    static void coreError(void* data, std::uint32_t id, int, int res, const char* message) {
        auto& self = *static_cast<PipeWireStreams*>(data);
        if (id != PW_ID_CORE) return;
        std::lock_guard lock(self.mutex_);
        if (self.lost_.empty()) {
            self.lost_ = std::string("PipeWire: the connection to PipeWire was lost (") +
                         (message && *message ? message : std::strerror(-res)) + ")";
        }
        for (auto& s : self.streams_) s->held = nullptr;  // their memory goes with the connection
    }
};

std::unique_ptr<PipeWireStreams> PipeWireStreams::open(UniqueFd fd, const std::vector<std::uint32_t>& nodes,
                                                       std::chrono::milliseconds setupLimit, std::string& error) {
    pw_init(nullptr, nullptr);
    std::unique_ptr<PipeWireStreams> self(new PipeWireStreams);
    self->setupBy_ = std::chrono::steady_clock::now() + setupLimit;
    self->pw_ = std::make_unique<Connection>();
    auto& pw = *self->pw_;
    pw.loop.reset(pw_thread_loop_new("tamborix-screen", nullptr));
    if (pw.loop) pw.context.reset(pw_context_new(pw_thread_loop_get_loop(pw.loop.get()), nullptr, 0));
    if (!pw.context || pw_thread_loop_start(pw.loop.get()) < 0) {
        error = "PipeWire: cannot start its loop";
        return nullptr;
    }
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Callbacks::stateChanged;
        e.param_changed = &Callbacks::paramChanged;
        e.remove_buffer = &Callbacks::removeBuffer;
        e.process = &Callbacks::process;
        return e;
    }();
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global_remove = &Callbacks::globalRemoved;
        return e;
    }();
    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.error = &Callbacks::coreError;
        return e;
    }();

    pw_thread_loop_lock(pw.loop.get());
    // PipeWire closes the descriptor itself, also when it cannot connect.
    pw.core.reset(pw_context_connect_fd(pw.context.get(), fd.release(), nullptr, 0));
    if (!pw.core) {
        const int e = errno;
        pw_thread_loop_unlock(pw.loop.get());
        error = std::string("PipeWire: cannot connect (") + std::strerror(e) + ")";
        return nullptr;
    }
    pw_core_add_listener(pw.core.get(), &pw.coreHook, &coreEvents, self.get());
    pw.registry.reset(pw_core_get_registry(pw.core.get(), PW_VERSION_REGISTRY, 0));
    if (pw.registry) {
        pw_registry_add_listener(pw.registry.get(), &pw.registryHook, &registryEvents, self.get());
    }
    int rc = 0;
    for (const std::uint32_t node : nodes) {
        auto s = std::make_unique<Stream>();
        s->owner = self.get();
        s->node = node;
        s->stream.reset(pw_stream_new(pw.core.get(), "tamborix-screen",
                                  pw_properties_new(PW_KEY_NODE_NAME, "tamborix-screen", PW_KEY_MEDIA_TYPE, "Video",
                                                    PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE,
                                                    "Screen", nullptr)));
        if (!s->stream) {
            rc = -errno;
            break;
        }
        pw_stream_add_listener(s->stream.get(), &s->hook, &events, s.get());
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
        rc = pw_stream_connect(s->stream.get(), PW_DIRECTION_INPUT, node,
                               static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                               params, 1);
        self->streams_.push_back(std::move(s));
        if (rc < 0) break;
    }
    pw_thread_loop_unlock(pw.loop.get());
    if (rc < 0) {
        error = std::string("PipeWire: cannot connect a stream (") + std::strerror(-rc) + ")";
        return nullptr;
    }
    return self;
}

PipeWireStreams::~PipeWireStreams() {
    // No callback may run while the streams, then the connection, are freed.
    if (pw_ && pw_->loop) pw_thread_loop_stop(pw_->loop.get());
    streams_.clear();
}

bool PipeWireStreams::read(std::uint32_t node, const std::function<void(const MappedFrame&)>& use) const {
    std::lock_guard lock(mutex_);
    if (!lost_.empty()) return false;
    for (const auto& s : streams_) {
        if (s->node != node) continue;
        if (!s->held || s->phase != Phase::streaming) return false;
        use(s->frame);
        return true;
    }
    return false;
}

std::string PipeWireStreams::error() const {
    std::lock_guard lock(mutex_);
    if (!lost_.empty()) return lost_;
    const bool late = std::chrono::steady_clock::now() > setupBy_;
    std::string first;
    for (const auto& s : streams_) {
        std::string problem = s->problem;
        if (s->phase == Phase::streaming) return {};
        if (s->phase == Phase::waiting) {
            if (!late) return {};
            problem = "PipeWire: the screen-cast stream of node " + std::to_string(s->node) +
                      " did not start (no format or memory in common; " + dmaBufOnly + ")";
        }
        if (first.empty()) first = std::move(problem);
    }
    return first.empty() ? "PipeWire: no screen-cast stream" : first;
}

}  // namespace tamborix::pipewire
