#pragma once
// A user at a headless mutter, for tests: sees the first monitor through mutter's own screen
// cast and clicks through mutter's own remote-desktop interface, as a person at the machine
// would. Answers xdg-desktop-portal-gnome's remote-desktop dialog by finding its controls in
// the picture.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "ports/geometry.h"
#include "support/jpeg_decode.h"

namespace tamborix {
class MainLoop;
namespace pipewire {
class PipeWireScreenCapture;
}
}  // namespace tamborix

namespace tamborix::testing {

// Catches the node of mutter's screen-cast stream (QtDBus delivers signals to slots only).
class StreamNodeCatcher : public QObject {
    Q_OBJECT
public:
    std::uint32_t node = 0;
public Q_SLOTS:
    void added(uint id) { node = id; }
};

class MutterUser {
public:
    // `bus`: the desktop's session bus; `pipewireSocket`: its PipeWire daemon.
    MutterUser(const std::string& busAddress, std::filesystem::path pipewireSocket);
    ~MutterUser();
    MutterUser(const MutterUser&) = delete;
    MutterUser& operator=(const MutterUser&) = delete;

    // Empty once the user sees the first monitor, else why not.
    [[nodiscard]] std::string start();
    // The first monitor (1280x720) as it looks now.
    [[nodiscard]] std::optional<DecodedJpeg> look();
    void click(Point at);
    void press(std::uint32_t keysym);
    // Waits for the portal's dialog, switches on remote interaction, selects every monitor and
    // shares. Empty when the dialog was answered, else what went wrong.
    [[nodiscard]] std::string allowRemoteControl(const std::filesystem::path& evidence);
    // Waits for the dialog and dismisses it with Escape.
    [[nodiscard]] std::string refuseRemoteControl(const std::filesystem::path& evidence);

private:
    // The dialog and its share button once both are on the screen, else why not.
    [[nodiscard]] std::string waitForDialog(const std::filesystem::path& evidence);
    [[nodiscard]] bool call(const QString& path, const QString& interface, const QString& method,
                            const QVariantList& args, QVariant* result = nullptr);

    QString name_;
    QDBusConnection bus_;
    std::filesystem::path pipewireSocket_;
    QString remoteDesktop_;
    QString screenCast_;
    QString stream_;
    StreamNodeCatcher catcher_;
    std::optional<DecodedJpeg> seen_;
    Rect dialog_;
    Point shareAt_;
    std::unique_ptr<MainLoop> loop_;
    std::unique_ptr<pipewire::PipeWireScreenCapture> eyes_;
};

}  // namespace tamborix::testing
