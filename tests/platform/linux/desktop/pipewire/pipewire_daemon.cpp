#include "pipewire_daemon.h"

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace tamborix::testing {

int connectUnix(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string p = path.string();
    if (fd < 0 || p.size() >= sizeof addr.sun_path) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string PipeWireDaemon::start(const std::filesystem::path& folder) {
    folder_ = folder;
    std::filesystem::create_directories(folder_);
    const auto conf = folder_ / "pipewire.conf";
    std::ofstream(conf) << "context.properties = {\n"
                           "    core.daemon = true\n"
                           "    core.name = pipewire-0\n"
                           "    support.dbus = false\n"
                           "}\n"
                           "context.spa-libs = {\n"
                           "    support.* = support/libspa-support\n"
                           "}\n"
                           "context.modules = [\n"
                           "    { name = libpipewire-module-protocol-native }\n"
                           "    { name = libpipewire-module-client-node }\n"
                           "    { name = libpipewire-module-access }\n"
                           "    { name = libpipewire-module-adapter }\n"
                           "    { name = libpipewire-module-link-factory }\n"
                           "]\n";
    if (!programAvailable("pipewire")) return "pipewire is not installed";
    daemon_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"pipewire", "-c", conf.string()},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + folder_.string(), "PIPEWIRE_RUNTIME_DIR=" + folder_.string(),
                                 "DBUS_SESSION_BUS_ADDRESS=disabled:", "PIPEWIRE_DEBUG=0"},
        -1, -1);
    if (!daemon_->started()) return "pipewire did not start";
    // Ready once its socket accepts a connection.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (const int fd = connectUnix(socket()); fd >= 0) {
            ::close(fd);
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return "pipewire did not open " + socket().string();
}

void PipeWireDaemon::stop() {
    if (daemon_) daemon_->stop();
    daemon_.reset();
}

PipeWireClient::~PipeWireClient() {
    if (loop_) pw_thread_loop_stop(loop_);
    if (core_) pw_core_disconnect(core_);
    if (context_) pw_context_destroy(context_);
    if (loop_) pw_thread_loop_destroy(loop_);
}

std::string PipeWireClient::connect(const std::filesystem::path& socket, const char* name) {
    pw_init(nullptr, nullptr);
    loop_ = pw_thread_loop_new(name, nullptr);
    if (!loop_) return "no thread loop";
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (!context_) return "no context";
    const int fd = connectUnix(socket);
    if (fd < 0) return "cannot reach " + socket.string();
    core_ = pw_context_connect_fd(context_, fd, nullptr, 0);
    if (!core_) return "cannot connect to " + socket.string();
    if (pw_thread_loop_start(loop_) < 0) return "cannot start the loop";
    return {};
}

// ---------------------------------------------------------------------------------------------

struct TestProducer::Impl {
    Options options;
    PipeWireClient client;
    pw_stream* stream = nullptr;
    spa_hook hook{};
    spa_source* timer = nullptr;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::uint32_t node = 0;
    std::string error;
    int frames = 0;
    bool streaming = false;

    void paint(std::uint8_t* data) const {
        const bool rgb = options.format == SPA_VIDEO_FORMAT_RGBx;
        const auto put = [&](std::uint8_t* p, std::uint32_t c) {
            const std::uint8_t r = c >> 16, g = c >> 8, b = c;
            p[0] = rgb ? r : b;
            p[1] = g;
            p[2] = rgb ? b : r;
            p[3] = 0x77;  // "x": whatever it holds must not matter
        };
        for (int y = 0; y < options.height; ++y) {
            std::uint8_t* row = data + std::size_t(y) * std::size_t(options.stride);
            for (int x = 0; x < options.width; ++x) {
                const bool right = x >= options.width / 2;
                const bool bottom = y >= options.height / 2;
                put(row + x * 4, bottom ? (right ? white : blue) : (right ? green : red));
            }
            for (int x = options.width * 4; x + 4 <= options.stride; x += 4) put(row + x, padding);
        }
    }

    static void onState(void* data, pw_stream_state, pw_stream_state state, const char* err) {
        auto& self = *static_cast<Impl*>(data);
        std::lock_guard lock(self.mutex);
        self.streaming = state == PW_STREAM_STATE_STREAMING;
        if (state == PW_STREAM_STATE_ERROR) self.error = err ? err : "stream error";
        if (self.node == 0 && state >= PW_STREAM_STATE_PAUSED) self.node = pw_stream_get_node_id(self.stream);
        self.changed.notify_all();
    }

    static void onParam(void* data, std::uint32_t id, const spa_pod* param) {
        auto& self = *static_cast<Impl*>(data);
        if (id != SPA_PARAM_Format || !param) return;
        std::uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
            SPA_POD_Int(self.options.stride * self.options.height), SPA_PARAM_BUFFERS_stride,
            SPA_POD_Int(self.options.stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << (self.options.dmaBufOnly ? SPA_DATA_DmaBuf : SPA_DATA_MemFd))));
        pw_stream_update_params(self.stream, params, 1);
    }

    static void onProcess(void* data) {
        auto& self = *static_cast<Impl*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(self.stream);
        if (!b) return;
        spa_data& d = b->buffer->datas[0];
        const auto size = std::uint32_t(self.options.stride * self.options.height);
        if (d.data && d.maxsize >= size) {
            self.paint(static_cast<std::uint8_t*>(d.data));
            d.chunk->offset = 0;
            d.chunk->size = size;
            d.chunk->stride = self.options.stride;
            d.chunk->flags = 0;
            std::lock_guard lock(self.mutex);
            ++self.frames;
        }
        pw_stream_queue_buffer(self.stream, b);
    }

    // A compositor sends a frame when the screen changes; this one changes all the time.
    static void onTimer(void* data, std::uint64_t) {
        auto& self = *static_cast<Impl*>(data);
        bool streaming = false;
        {
            std::lock_guard lock(self.mutex);
            streaming = self.streaming;
        }
        if (streaming && self.stream) pw_stream_trigger_process(self.stream);
    }
};

TestProducer::TestProducer(const std::filesystem::path& socket, Options options)
    : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    m.options = options;
    if (auto e = m.client.connect(socket, "test-producer"); !e.empty()) {
        m.error = e;
        return;
    }
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &Impl::onState;
        e.param_changed = &Impl::onParam;
        e.process = &Impl::onProcess;
        return e;
    }();
    pw_thread_loop_lock(m.client.loop());
    m.stream = pw_stream_new(m.client.core(), "test-screen",
                             pw_properties_new(PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
    pw_stream_add_listener(m.stream, &m.hook, &events, &m);
    std::uint8_t buffer[512];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size{std::uint32_t(options.width), std::uint32_t(options.height)};
    spa_fraction rate{0, 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(options.format), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    const int rc = pw_stream_connect(m.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                     static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
                                     params, 1);
    if (rc < 0) m.error = std::string("cannot connect the producer: ") + std::strerror(-rc);
    m.timer = pw_loop_add_timer(pw_thread_loop_get_loop(m.client.loop()), &Impl::onTimer, &m);
    timespec interval{0, 5'000'000};
    pw_loop_update_timer(pw_thread_loop_get_loop(m.client.loop()), m.timer, &interval, &interval, false);
    pw_thread_loop_unlock(m.client.loop());
}

TestProducer::~TestProducer() { end(); }

void TestProducer::end() {
    Impl& m = *impl_;
    if (!m.client.loop()) return;
    pw_thread_loop_lock(m.client.loop());
    if (m.timer) pw_loop_destroy_source(pw_thread_loop_get_loop(m.client.loop()), m.timer);
    m.timer = nullptr;
    if (m.stream) pw_stream_destroy(m.stream);
    m.stream = nullptr;
    pw_thread_loop_unlock(m.client.loop());
}

std::uint32_t TestProducer::waitForNode(int timeoutMs) {
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return impl_->node != 0 || !impl_->error.empty(); });
    if (impl_->node == 0 && impl_->error.empty()) impl_->error = "the producer got no node";
    return impl_->node;
}

std::string TestProducer::error() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->error;
}

int TestProducer::framesSent() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

// ---------------------------------------------------------------------------------------------

struct StreamLinker::Impl {
    struct Watched {
        Impl* owner = nullptr;
        std::uint32_t id = 0;
        pw_proxy* proxy = nullptr;
        spa_hook hook{};
        bool linked = false;
    };
    PipeWireClient client;
    pw_registry* registry = nullptr;
    spa_hook registryHook{};
    std::map<std::uint32_t, std::unique_ptr<Watched>> watched;
    std::vector<pw_proxy*> links;
    mutable std::mutex mutex;
    int made = 0;

    static void onInfo(void* data, const pw_node_info* info) {
        auto& w = *static_cast<Watched*>(data);
        if (w.linked || !info->props || info->n_input_ports == 0) return;
        const char* target = spa_dict_lookup(info->props, PW_KEY_TARGET_OBJECT);
        if (!target) target = spa_dict_lookup(info->props, "node.target");
        if (!target) return;
        w.linked = true;
        w.owner->link(w.id, target);
    }

    void link(std::uint32_t input, const char* output) {
        pw_properties* props = pw_properties_new(PW_KEY_LINK_OUTPUT_NODE, output, nullptr);
        pw_properties_setf(props, PW_KEY_LINK_INPUT_NODE, "%u", input);
        auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(client.core(), "link-factory",
                                                                   PW_TYPE_INTERFACE_Link, PW_VERSION_LINK,
                                                                   &props->dict, 0));
        pw_properties_free(props);
        std::lock_guard lock(mutex);
        if (proxy) {
            links.push_back(proxy);
            ++made;
        }
    }

    static void onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
                         const spa_dict* props) {
        auto& self = *static_cast<Impl*>(data);
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0 || !props) return;
        const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
        if (!name || std::strcmp(name, "tamborix-screen") != 0) return;
        static const pw_node_events events = [] {
            pw_node_events e{};
            e.version = PW_VERSION_NODE_EVENTS;
            e.info = &Impl::onInfo;
            return e;
        }();
        auto w = std::make_unique<Watched>();
        w->owner = &self;
        w->id = id;
        w->proxy = static_cast<pw_proxy*>(pw_registry_bind(self.registry, id, type, PW_VERSION_NODE, 0));
        if (!w->proxy) return;
        pw_proxy_add_object_listener(w->proxy, &w->hook, &events, w.get());
        self.watched[id] = std::move(w);
    }

    static void onGlobalRemove(void* data, std::uint32_t id) {
        auto& self = *static_cast<Impl*>(data);
        auto it = self.watched.find(id);
        if (it == self.watched.end()) return;
        spa_hook_remove(&it->second->hook);
        pw_proxy_destroy(it->second->proxy);
        self.watched.erase(it);
    }
};

StreamLinker::StreamLinker(const std::filesystem::path& socket) : impl_(std::make_unique<Impl>()) {
    Impl& m = *impl_;
    if (!m.client.connect(socket, "test-linker").empty()) return;
    static const pw_registry_events events = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = &Impl::onGlobal;
        e.global_remove = &Impl::onGlobalRemove;
        return e;
    }();
    pw_thread_loop_lock(m.client.loop());
    m.registry = pw_core_get_registry(m.client.core(), PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(m.registry, &m.registryHook, &events, &m);
    pw_thread_loop_unlock(m.client.loop());
}

StreamLinker::~StreamLinker() {
    Impl& m = *impl_;
    if (!m.client.loop()) return;
    pw_thread_loop_lock(m.client.loop());
    for (auto& [id, w] : m.watched) {
        spa_hook_remove(&w->hook);
        pw_proxy_destroy(w->proxy);
    }
    m.watched.clear();
    for (pw_proxy* link : m.links) pw_proxy_destroy(link);
    if (m.registry) {
        spa_hook_remove(&m.registryHook);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(m.registry));
    }
    pw_thread_loop_unlock(m.client.loop());
}

int StreamLinker::linksMade() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->made;
}

}  // namespace tamborix::testing
