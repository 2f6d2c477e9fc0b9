#include "support/mutter_user.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "base/unique_fd.h"
#include "platform/linux/desktop/pipewire/pipewire_screen_capture.h"
#include "platform/linux/support/qt/qt_main_loop.h"
#include "support/qt_spin.h"

namespace tamborix::testing {
namespace {

const QString mutterRemoteDesktop = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString mutterScreenCast = QStringLiteral("org.gnome.Mutter.ScreenCast");
constexpr int btnLeft = 0x110;
const Rect firstMonitor{0, 0, 1280, 720};

UniqueFd connectTo(const std::filesystem::path& socket) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
    return fd;
}

}  // namespace

MutterUser::MutterUser(const std::string& busAddress, std::filesystem::path pipewireSocket)
    : name_(QStringLiteral("mutter-user-%1").arg(reinterpret_cast<quintptr>(this))),
      bus_(QDBusConnection::connectToBus(QString::fromStdString(busAddress), name_)),
      pipewireSocket_(std::move(pipewireSocket)) {}

MutterUser::~MutterUser() {
    eyes_.reset();
    if (!remoteDesktop_.isEmpty())
        call(remoteDesktop_, mutterRemoteDesktop + QStringLiteral(".Session"), QStringLiteral("Stop"), {});
    loop_.reset();
    QDBusConnection::disconnectFromBus(name_);
}

bool MutterUser::call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& args, QVariant* result) {
    const QString service = interface.startsWith(mutterScreenCast) ? mutterScreenCast : mutterRemoteDesktop;
    auto message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    const auto reply = bus_.call(message, QDBus::Block, 10'000);
    if (reply.type() != QDBusMessage::ReplyMessage) return false;
    if (result && !reply.arguments().isEmpty()) *result = reply.arguments().first();
    return true;
}

std::string MutterUser::start() {
    QVariant path;
    if (!call(QStringLiteral("/org/gnome/Mutter/RemoteDesktop"), mutterRemoteDesktop, QStringLiteral("CreateSession"),
              {}, &path))
        return "mutter made no remote-desktop session";
    remoteDesktop_ = path.value<QDBusObjectPath>().path();
    auto get = QDBusMessage::createMethodCall(mutterRemoteDesktop, remoteDesktop_,
                                              QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << mutterRemoteDesktop + QStringLiteral(".Session") << QStringLiteral("SessionId");
    const auto id = bus_.call(get, QDBus::Block, 10'000);
    if (id.type() != QDBusMessage::ReplyMessage) return "mutter's remote-desktop session has no id";
    const QString sessionId = id.arguments().first().value<QDBusVariant>().variant().toString();
    if (!call(QStringLiteral("/org/gnome/Mutter/ScreenCast"), mutterScreenCast, QStringLiteral("CreateSession"),
              {QVariantMap{{QStringLiteral("remote-desktop-session-id"), sessionId}}}, &path))
        return "mutter made no screen-cast session";
    screenCast_ = path.value<QDBusObjectPath>().path();
    if (!call(screenCast_, mutterScreenCast + QStringLiteral(".Session"), QStringLiteral("RecordMonitor"),
              {QString(), QVariantMap{{QStringLiteral("cursor-mode"), 1u}}}, &path))
        return "mutter does not cast its first monitor";
    stream_ = path.value<QDBusObjectPath>().path();

    bus_.connect(mutterScreenCast, stream_, mutterScreenCast + QStringLiteral(".Stream"),
                 QStringLiteral("PipeWireStreamAdded"), &catcher_, SLOT(added(uint)));
    if (!call(remoteDesktop_, mutterRemoteDesktop + QStringLiteral(".Session"), QStringLiteral("Start"), {}))
        return "mutter's remote-desktop session did not start";
    if (!spinUntil([&] { return catcher_.node != 0; }, 20'000)) return "mutter's screen cast gave no PipeWire node";
    auto fd = connectTo(pipewireSocket_);
    if (!fd) return "PipeWire cannot be reached at " + pipewireSocket_.string();
    loop_ = std::make_unique<QtMainLoop>();
    eyes_ = std::make_unique<pipewire::PipeWireScreenCapture>(*loop_, "not yet", std::chrono::seconds(20));
    eyes_->setStreams(std::move(fd), {pipewire::CastDisplay{1, catcher_.node, firstMonitor}}, "");
    return {};
}

std::optional<DecodedJpeg> MutterUser::look() {
    if (!eyes_) return std::nullopt;
    CaptureRequest request;
    request.display = 1;
    request.displayBounds = firstMonitor;
    request.region = firstMonitor;
    request.width = int(firstMonitor.width);
    request.height = int(firstMonitor.height);
    request.quality = 0.95;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20'000) {
        bool answered = false;
        std::optional<Bytes> jpeg;
        eyes_->capture(request, [&](std::optional<Bytes> j) {
            answered = true;
            jpeg = std::move(j);
        });
        if (!spinUntil([&] { return answered; }, 20'000)) return std::nullopt;
        if (jpeg) return decodeJpeg(*jpeg);
        spinUntil([] { return false; }, 100);
    }
    return std::nullopt;
}


void MutterUser::click(Point at) {
    const QString session = mutterRemoteDesktop + QStringLiteral(".Session");
    call(remoteDesktop_, session, QStringLiteral("NotifyPointerMotionAbsolute"), {stream_, at.x, at.y});
    call(remoteDesktop_, session, QStringLiteral("NotifyPointerButton"), {btnLeft, true});
    call(remoteDesktop_, session, QStringLiteral("NotifyPointerButton"), {btnLeft, false});
}

void MutterUser::press(std::uint32_t keysym) {
    const QString session = mutterRemoteDesktop + QStringLiteral(".Session");
    call(remoteDesktop_, session, QStringLiteral("NotifyKeyboardKeysym"), {keysym, true});
    call(remoteDesktop_, session, QStringLiteral("NotifyKeyboardKeysym"), {keysym, false});
}

namespace {

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    long count = 0;
    double sumX = 0, sumY = 0;
    void add(int x, int y) {
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
        ++count;
        sumX += x;
        sumY += y;
    }
    [[nodiscard]] Point centre() const { return {sumX / double(count), sumY / double(count)}; }
};

bool near(const DecodedJpeg::Rgb& c, int r, int g, int b, int tolerance) {
    return std::abs(c.r - r) <= tolerance && std::abs(c.g - g) <= tolerance && std::abs(c.b - b) <= tolerance;
}

// Pixels of `colour` inside `within`.
Box find(const DecodedJpeg& p, const Box& within, int r, int g, int b, int tolerance) {
    Box found;
    for (int y = std::max(within.top, 0); y <= std::min(within.bottom, p.height - 1); ++y)
        for (int x = std::max(within.left, 0); x <= std::min(within.right, p.width - 1); ++x)
            if (near(p.at(x, y), r, g, b, tolerance)) found.add(x, y);
    return found;
}

// The dialog: the light pixels on the recorder's blue.
Box dialogIn(const DecodedJpeg& p) {
    Box found;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const auto c = p.at(x, y);
            if (std::min({c.r, c.g, c.b}) > 200) found.add(x, y);
        }
    return found;
}

// Adwaita's accent blue: the share button, and a switch once it is on.
constexpr int accentR = 53, accentG = 132, accentB = 228;

}  // namespace

static void saveJpeg(const DecodedJpeg& picture, const std::filesystem::path& to) {
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(h, picture.rgb.data(), picture.width, 0, picture.height, TJPF_RGB, &out, &size, TJSAMP_444, 90, 0);
    std::ofstream(to, std::ios::binary).write(reinterpret_cast<char*>(out), long(size));
    tjFree(out);
    tjDestroy(h);
}

std::string MutterUser::waitForDialog(const std::filesystem::path& evidence) {
    // The dialog takes a moment to appear.
    Box dialog;
    Box share;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30'000) {
        seen_ = look();
        if (!seen_) return "the first monitor cannot be seen";
        dialog = dialogIn(*seen_);
        if (dialog.count > 10'000) {
            Box header = dialog;
            header.bottom = dialog.top + 50;
            share = find(*seen_, header, accentR, accentG, accentB, 30);
            if (share.count > 300) break;
        }
        spinUntil([] { return false; }, 200);
    }
    if (share.count <= 300) {
        if (seen_) saveJpeg(*seen_, evidence);
        return "no dialog with a share button appeared (picture in " + evidence.string() + ")";
    }
    dialog_ = Rect{double(dialog.left), double(dialog.top), double(dialog.right - dialog.left),
                   double(dialog.bottom - dialog.top)};
    shareAt_ = share.centre();
    // Mutter makes its virtual keyboard with the first key, which is lost: a Shift first.
    press(0xffe1);
    spinUntil([] { return false; }, 300);
    return {};
}

std::string MutterUser::refuseRemoteControl(const std::filesystem::path& evidence) {
    if (auto why = waitForDialog(evidence); !why.empty()) return why;
    press(0xff1b);  // Escape
    return {};
}

std::string MutterUser::allowRemoteControl(const std::filesystem::path& evidence) {
    if (auto why = waitForDialog(evidence); !why.empty()) return why;
    auto picture = seen_;
    Box dialog;
    dialog.left = int(dialog_.x);
    dialog.top = int(dialog_.y);
    dialog.right = int(dialog_.maxX());
    dialog.bottom = int(dialog_.maxY());
    // The first monitor is selected and has the keyboard's focus: a user adds the second one
    // with the arrow and space keys.
    // Shift+Down extends the selection over the second monitor.
    const QString session = mutterRemoteDesktop + QStringLiteral(".Session");
    call(remoteDesktop_, session, QStringLiteral("NotifyKeyboardKeysym"), {0xffe1u, true});
    press(0xff54);
    call(remoteDesktop_, session, QStringLiteral("NotifyKeyboardKeysym"), {0xffe1u, false});
    // The switch: the grey track at the right end of the dialog's last row.
    Box lastRow = dialog;
    lastRow.top = dialog.bottom - 60;
    lastRow.left = dialog.right - 120;
    const Box track = find(*picture, lastRow, 220, 220, 220, 14);
    if (track.count < 50) {
        saveJpeg(*picture, evidence);
        return "no remote-interaction switch found (picture in " + evidence.string() + ")";
    }
    // It turns blue once on; the first click of a session may be lost like the first key.
    bool on = false;
    for (int attempt = 0; attempt < 3 && !on; ++attempt) {
        click(track.centre());
        for (int i = 0; i < 20 && !on; ++i) {
            spinUntil([] { return false; }, 100);
            picture = look();
            if (picture) on = find(*picture, lastRow, accentR, accentG, accentB, 30).count > 50;
        }
    }
    if (!on) {
        if (picture) saveJpeg(*picture, evidence);
        return "the remote-interaction switch did not turn on (picture in " + evidence.string() + ")";
    }
    click(shareAt_);
    return {};
}

}  // namespace tamborix::testing
