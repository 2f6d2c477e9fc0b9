#include "platform/linux/services/datacontrol/data_control_clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>

#include "base/unique_fd.h"
#include "wayland/data-control.h"

namespace tamborix::datacontrol {

namespace {

// Text types, best first: what the helper offers and what it asks another owner for.
constexpr const char* textTypes[] = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "TEXT", "STRING"};

// A stuck owner or reader must not hold the main loop: each transfer gets this long.
constexpr int transferMs = 1000;
// Larger text than this is not taken from another program's clipboard.
constexpr std::size_t maxText = 16 * 1024 * 1024;

void offerType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
    auto* self = static_cast<DataControlClipboard*>(data);
    if (auto* o = self->find(offer)) o->types.emplace_back(type);
}
const zwlr_data_control_offer_v1_listener offerListener{offerType};

const zwlr_data_control_device_v1_listener deviceListener{
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        static_cast<DataControlClipboard*>(data)->offered(offer);
    },
    [](void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
        static_cast<DataControlClipboard*>(data)->selection(offer);
    },
    [](void* data, zwlr_data_control_device_v1*) { static_cast<DataControlClipboard*>(data)->finished(); },
    // Bound at version 1: no primary selection (middle-click paste) is reported.
    [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {},
};

const zwlr_data_control_source_v1_listener sourceListener{
    [](void* data, zwlr_data_control_source_v1*, const char* type, std::int32_t fd) {
        static_cast<DataControlClipboard*>(data)->send(type, fd);
    },
    [](void* data, zwlr_data_control_source_v1* source) {
        static_cast<DataControlClipboard*>(data)->cancelled(source);
    },
};

bool waitFor(int fd, short events, std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, static_cast<int>(left.count())) > 0;
}

}  // namespace

std::unique_ptr<DataControlClipboard> DataControlClipboard::open(const std::string& display, std::string& why) {
    std::unique_ptr<DataControlClipboard> c(new DataControlClipboard);
    c->conn_ = wayland::WaylandConnection::connect(display, why);
    if (!c->conn_) return nullptr;
    c->manager_.reset(c->conn_->bind<zwlr_data_control_manager_v1>(zwlr_data_control_manager_v1_interface, 1));
    c->seat_.reset(c->conn_->bind<wl_seat>(wl_seat_interface, 1));
    if (!c->manager_ || !c->seat_) {
        why = "the compositor offers no data control (zwlr_data_control_manager_v1)";
        return nullptr;
    }
    c->device_.reset(zwlr_data_control_manager_v1_get_data_device(c->manager_.get(), c->seat_.get()));
    zwlr_data_control_device_v1_add_listener(c->device_.get(), &deviceListener, c.get());
    if (!c->conn_->roundtrip()) {
        why = "the compositor closed the clipboard's connection";
        return nullptr;
    }
    c->conn_->watchWithQt();
    return c;
}

DataControlClipboard::~DataControlClipboard() {
    pending_.clear();
    current_.reset();
    source_.reset();
    device_.reset();
}

DataControlClipboard::Offer* DataControlClipboard::find(zwlr_data_control_offer_v1* offer) {
    for (auto& o : pending_) {
        if (o->proxy.get() == offer) return o.get();
    }
    return current_ && current_->proxy.get() == offer ? current_.get() : nullptr;
}

void DataControlClipboard::offered(zwlr_data_control_offer_v1* offer) {
    auto o = std::make_unique<Offer>();
    o->proxy.reset(offer);
    zwlr_data_control_offer_v1_add_listener(offer, &offerListener, this);
    pending_.push_back(std::move(o));
}

void DataControlClipboard::selection(zwlr_data_control_offer_v1* offer) {
    std::unique_ptr<Offer> chosen;
    for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if ((*it)->proxy.get() == offer) {
            chosen = std::move(*it);
            pending_.erase(it);
            break;
        }
    }
    // Offers announced for other selections are of no further use.
    pending_.clear();
    current_ = std::move(chosen);
}

void DataControlClipboard::finished() {
    pending_.clear();
    current_.reset();
    source_.reset();
    device_.reset();
}

void DataControlClipboard::send(const std::string& type, int fd) {
    UniqueFd out(fd);
    (void)type;
    // A reader that went away ends the write with EPIPE: the application ignores SIGPIPE.
    ::fcntl(out.get(), F_SETFL, ::fcntl(out.get(), F_GETFL) | O_NONBLOCK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(transferMs);
    std::size_t done = 0;
    while (done < served_.size()) {
        const ssize_t n = ::write(out.get(), served_.data() + done, served_.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN && waitFor(out.get(), POLLOUT, deadline)) {
            continue;
        } else {
            break;
        }
    }
}

void DataControlClipboard::cancelled(zwlr_data_control_source_v1* source) {
    if (source != source_.get()) return;
    source_.reset();
    served_.clear();
}

std::optional<std::string> DataControlClipboard::text() const {
    // Pick up a selection made since the loop last ran.
    conn_->roundtrip();
    if (source_) return served_;
    if (!current_) return std::nullopt;
    const char* type = nullptr;
    for (const char* t : textTypes) {
        if (std::find(current_->types.begin(), current_->types.end(), t) != current_->types.end()) {
            type = t;
            break;
        }
    }
    if (!type) return std::nullopt;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return std::nullopt;
    UniqueFd in(fds[0]);
    UniqueFd out(fds[1]);
    zwlr_data_control_offer_v1_receive(current_->proxy.get(), type, out.get());
    conn_->flush();
    out.reset();
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(transferMs);
    char buf[65536];
    while (text.size() <= maxText) {
        const ssize_t n = ::read(in.get(), buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return text;
        } else if (errno != EAGAIN || !waitFor(in.get(), POLLIN, deadline)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool DataControlClipboard::setText(const std::string& text) {
    if (!device_) return false;
    wayland::Proxy<zwlr_data_control_source_v1> source(zwlr_data_control_manager_v1_create_data_source(manager_.get()));
    zwlr_data_control_source_v1_add_listener(source.get(), &sourceListener, this);
    for (const char* t : textTypes) zwlr_data_control_source_v1_offer(source.get(), t);
    zwlr_data_control_device_v1_set_selection(device_.get(), source.get());
    // The old source goes now: the compositor would cancel it anyway.
    source_ = std::move(source);
    served_ = text;
    conn_->flush();
    return conn_->alive();
}

}  // namespace tamborix::datacontrol
