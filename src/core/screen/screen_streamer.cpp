#include "core/screen/screen_streamer.h"

#include <algorithm>
#include <cmath>

#include "core/desktop/display_list.h"
#include "protocol/wire.h"

namespace tamborix {
namespace {

constexpr Duration ackPoll = std::chrono::milliseconds(20);
constexpr Duration ackTimeout = std::chrono::seconds(3);
constexpr Duration networkPace = std::chrono::milliseconds(125);
constexpr Duration bluetoothPace = std::chrono::seconds(1);

}  // namespace

std::string_view ScreenStreamer::modeName(Mode mode) {
    return mode == Mode::cursor ? "cursor" : "fit";
}

std::optional<ScreenStreamer::Mode> ScreenStreamer::modeFromName(std::string_view name) {
    if (name == "fit") return Mode::fit;
    if (name == "cursor") return Mode::cursor;
    return std::nullopt;
}

ScreenStreamer::ScreenStreamer(MainLoop& loop, const DisplaySource& displays, ScreenCapture& capture,
                               std::weak_ptr<HelperConn> conn)
    : loop_(loop), displays_(displays), capture_(capture), conn_(std::move(conn)) {}

ScreenStreamer::~ScreenStreamer() = default;

void ScreenStreamer::start(Mode mode, int display, bool lowBandwidth) {
    mode_ = mode;
    fixedDisplay_ = display;
    lowBandwidth_ = lowBandwidth;
    if (running_) return;
    running_ = true;
    ++generation_;
    capturing_ = false;
    sending_.reset();
    lastSend_.reset();
    pointer_.reset();
    // Not from inside start(): whatever the caller sends in reply goes out before frame 1.
    scheduleStep(Duration{0});
}

void ScreenStreamer::stop() {
    running_ = false;
    ++generation_;
    timer_.reset();
    capturing_ = false;
    sending_.reset();
    awaiting_.reset();
}

void ScreenStreamer::ack(std::int64_t id) {
    if (awaiting_ && awaiting_->id == id) awaiting_.reset();
}

std::optional<Point> ScreenStreamer::point(std::int64_t id, double x, double y) const {
    const auto it = rects_.find(id);
    if (it == rects_.end()) return std::nullopt;
    if (!(x >= 0 && x <= 1 && y >= 0 && y <= 1)) return std::nullopt;  // NaN fails too
    const Rect& r = it->second;
    return Point{r.minX() + x * r.width, r.minY() + y * r.height};
}

Rect ScreenStreamer::region(Mode mode, const Rect& b, Point p) {
    if (mode == Mode::fit) return b;
    const double w = std::min(b.width, cursorRegionWidth);
    const double h = std::min(b.height, cursorRegionHeight);
    const double x = std::min(b.maxX() - w, std::max(b.minX(), p.x - w / 2));
    const double y = std::min(b.maxY() - h, std::max(b.minY(), p.y - h / 2));
    return Rect{x, y, w, h};
}

ScreenStreamer::OutputSize ScreenStreamer::outputSize(Mode mode, bool lowBandwidth, const Rect& r) {
    if (!(r.width > 0 && r.height > 0)) return {};
    const double maxW = lowBandwidth ? 480.0 : (mode == Mode::cursor ? 1100.0 : 1280.0);
    const double s = std::min(maxW / r.width, 1.0);
    // Truncation toward zero, as the phone sizes its picture from these values.
    return {static_cast<int>(r.width * s), static_cast<int>(r.height * s)};
}

void ScreenStreamer::writeChunk(std::string& out, std::int64_t id, std::size_t index,
                                std::size_t count, std::string_view base64, OutputSize size) {
    // Written by hand: the picture's text is nearly all of every message, and base64 characters
    // never need escaping, so a JSON library would only copy and scan it once more.
    const std::string_view piece = base64.substr(std::min(base64.size(), index * chunkChars), chunkChars);
    out.clear();
    out += R"({"t":"scr","id":)";
    out += std::to_string(id);
    out += R"(,"i":)";
    out += std::to_string(index);
    out += R"(,"n":)";
    out += std::to_string(count);
    if (index == 0) {
        out += R"(,"w":)";
        out += std::to_string(size.width);
        out += R"(,"h":)";
        out += std::to_string(size.height);
    }
    out += R"(,"d":")";
    out += piece;
    out += R"("})";
}

std::vector<std::string> ScreenStreamer::chunks(std::int64_t id, std::string_view base64,
                                                OutputSize size) {
    const std::size_t n = (base64.size() + chunkChars - 1) / chunkChars;
    std::vector<std::string> out(n);
    for (std::size_t i = 0; i < n; ++i) writeChunk(out[i], id, i, n, base64, size);
    return out;
}

void ScreenStreamer::scheduleStep(Duration after) {
    timer_ = loop_.singleShot(after, [this] { step(); });
}

void ScreenStreamer::step() {
    if (!running_ || capturing_ || sending_) return;
    const MonoTime now = loop_.now();
    if (awaiting_ && now - awaiting_->sent < ackTimeout) {
        scheduleStep(ackPoll);
        return;
    }
    if (lastSend_) {
        const Duration wait = (lowBandwidth_ ? bluetoothPace : networkPace) - (now - *lastSend_);
        if (wait > Duration{0}) {
            scheduleStep(wait);
            return;
        }
    }
    lastSend_ = now;
    captureAndSend();
}

void ScreenStreamer::captureAndSend() {
    // Every way out that sends nothing comes back to step(), which waits out the pace.
    if (conn_.expired()) return step();
    const auto list = sortedDisplays(displays_);
    if (list.empty()) return step();

    const Point pointer = pointer_ ? *pointer_ : pointerOrOrigin(displays_);
    int n = fixedDisplay_;
    if (n <= 0 || static_cast<std::size_t>(n) > list.size()) n = displayNumberAt(list, pointer);
    const auto& display = list[std::clamp<std::size_t>(static_cast<std::size_t>(n), 1, list.size()) - 1];

    Frame frame;
    // Only send() numbers frames, and only one capture of this run is out at a time.
    frame.id = nextID_ + 1;
    frame.region = region(mode_, display.bounds, pointer);
    frame.size = outputSize(mode_, lowBandwidth_, frame.region);
    if (frame.size.width < 1 || frame.size.height < 1) return step();

    CaptureRequest request;
    request.display = display.id;
    request.displayBounds = display.bounds;
    request.region = frame.region;
    request.width = frame.size.width;
    request.height = frame.size.height;
    request.quality = lowBandwidth_ ? 0.35 : 0.55;
    request.showCursor = true;

    capturing_ = true;
    // Base64 and the chunk messages are made on the capture thread; the main thread only seals
    // and writes them.
    capture_.captureFinished(
        request,
        [id = frame.id, size = frame.size](const Bytes& jpeg) { return chunks(id, Wire::b64std(jpeg), size); },
        [this, alive = life_.watch(), generation = generation_, frame](std::optional<FinishedPicture> picture) {
            if (!alive) return;
            this->picture(generation, frame, std::move(picture));
        });
}

void ScreenStreamer::picture(std::uint64_t generation, Frame frame, std::optional<FinishedPicture> picture) {
    // A picture that arrives after stop(), or from a run before the latest start(), is dropped.
    if (generation != generation_ || !running_) return;
    capturing_ = false;
    pointer_ = picture ? picture->pointer : std::nullopt;
    if (picture && !picture->lines.empty()) return send(frame, std::move(*picture));
    step();
}

void ScreenStreamer::send(const Frame& frame, FinishedPicture picture) {
    const auto conn = conn_.lock();
    if (!conn) return step();

    const std::int64_t id = ++nextID_;
    rects_[id] = frame.region;
    rects_.erase(rects_.begin(), rects_.upper_bound(id - static_cast<std::int64_t>(keptRects)));

    if (!conn->session || !conn->push) {
        awaiting_ = Awaiting{id, loop_.now()};
        return step();
    }
    // Sealing stays here, where the session's counter is: a phone accepts only rising counters,
    // so a range reserved for a frame's chunks would make every reply and other message sealed
    // meanwhile wait until the whole frame had been written, and the writing in passes that lets
    // them through between chunks would end.
    if (id != frame.id) picture.lines = chunks(id, Wire::b64std(picture.jpeg), frame.size);
    sending_ = Sending{id, std::move(picture.lines), 0};
    sendSome();
}

void ScreenStreamer::sendSome() {
    const auto conn = conn_.lock();
    if (!conn) {
        sending_.reset();
        return step();
    }
    // A failed write may end the connection from inside push, and with it this streamer; a
    // stop() or start() from inside it ends this frame.
    const auto alive = life_.watch();
    const auto generation = generation_;
    // The pass's chunks leave in one write; released however the loop ends.
    struct Held {
        std::shared_ptr<HelperConn> conn;
        explicit Held(std::shared_ptr<HelperConn> c) : conn(std::move(c)) {
            if (conn->holdOutput) conn->holdOutput(true);
        }
        ~Held() {
            if (conn->holdOutput) conn->holdOutput(false);
        }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
    } held(conn);
    const std::size_t count = sending_->chunks.size();
    for (std::size_t k = 0; k < chunksPerPass && sending_->next < count; ++k) {
        try {
            const std::string& message = sending_->chunks[sending_->next];
            conn->push(conn->session->seal(
                ByteView(reinterpret_cast<const std::uint8_t*>(message.data()), message.size())));
        } catch (...) {
            // A chunk that cannot be sealed is skipped; the phone's timeout and
            // the next frame recover.
        }
        if (!alive || generation != generation_ || !sending_) return;
        ++sending_->next;
    }
    if (sending_->next < sending_->chunks.size()) {
        loop_.post([this, alive, generation] {
            if (!alive || generation != generation_ || !sending_) return;
            sendSome();
        });
        return;
    }
    awaiting_ = Awaiting{sending_->id, loop_.now()};
    sending_.reset();
    step();
}

}  // namespace tamborix
