#pragma once
// A remote-desktop session with the desktop portal, with the monitors shared through ScreenCast:
// CreateSession, SelectDevices (keyboard and pointer), SelectSources (monitors, cursor embedded),
// Start. From version 2 of the portal the user's consent is kept: the restore token handed back by
// Start is stored at once, and offered by the next start, so the dialog shows only the first time
// (or when the desktop forgets the permission). A token is good for one start only: it is taken
// out of its file before it is offered, never offered twice. Once started, the PipeWire remote of
// the shared monitors is opened (OpenPipeWireRemote) before the session counts as running.

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/user_text.h"
#include "base/unique_fd.h"
#include "ports/geometry.h"

namespace tamborix::portal {

class PortalRequest;

inline const QString clipboardInterface = QStringLiteral("org.freedesktop.portal.Clipboard");

struct PortalStream {
    std::uint32_t nodeId = 0;  // the PipeWire node of this monitor
    Rect bounds;               // in the desktop's global coordinates
    friend bool operator==(const PortalStream&, const PortalStream&) = default;
};

class RemoteDesktopSession final : public QObject {
    Q_OBJECT
public:
    enum class State { idle, starting, running, refused, failed, closed };
    static constexpr std::uint32_t keyboard = 1;
    static constexpr std::uint32_t pointer = 2;

    // `tokenFile` keeps the restore token (owner-only); its folder must exist.
    RemoteDesktopSession(QDBusConnection bus, std::filesystem::path tokenFile);
    ~RemoteDesktopSession() override;

    // Asks for the session; the answer arrives later through onChanged. Does nothing unless idle,
    // failed, refused or closed.
    void start();

    [[nodiscard]] State state() const noexcept { return state_; }
    // One line for the user: why input cannot be posted, or how consent is kept.
    [[nodiscard]] const std::string& status() const noexcept { return status_; }
    // The interface version the portal reported (0 until known).
    [[nodiscard]] std::uint32_t version() const noexcept { return version_; }
    [[nodiscard]] std::uint32_t devices() const noexcept { return devices_; }
    // Whether the portal has the Clipboard interface, and whether the running session shares the
    // desktop's clipboard through it.
    [[nodiscard]] bool clipboardOffered() const noexcept { return clipboardOffered_; }
    [[nodiscard]] bool clipboardEnabled() const noexcept { return clipboardEnabled_; }
    [[nodiscard]] const std::vector<PortalStream>& streams() const noexcept { return streams_; }
    // Whether the portal said where its streams are. When it did not (KWin), the streams are laid
    // side by side from the left in the portal's order, which is the desktop's output order.
    [[nodiscard]] bool streamsPlaced() const noexcept { return streamsPlaced_; }
    // Whether the desktop asks the user before granting remote control; only changes the words
    // of the status while the session starts.
    void setAsksConsent(bool asks) { asksConsent_ = asks; }
    [[nodiscard]] const QString& handle() const noexcept { return session_; }
    [[nodiscard]] QDBusConnection& bus() noexcept { return bus_; }
    // A new descriptor of the PipeWire remote that carries the streams; none while not running
    // or when the portal opened none (screenStatus() then says why).
    [[nodiscard]] UniqueFd dupPipeWireRemote() const;
    // Why the screen cannot be read through this session; empty once the remote is open.
    [[nodiscard]] const std::string& screenStatus() const noexcept { return screenStatus_; }

    void onChanged(std::function<void()> handler) { changed_ = std::move(handler); }

private Q_SLOTS:
    void onClosed(const QVariantMap& details);

private:
    void createSession();
    void selectDevices();
    void selectSources();
    void startSession();
    void started(const QVariantMap& results);
    void openPipeWireRemote();
    void running();
    void fail(State state, std::string why);
    void setState(State state, std::string status);
    [[nodiscard]] std::string takeToken();
    void keepToken(const QString& token);
    // Sends a request-style call; `next` runs on success only.
    void request(const QString& interface, const QString& method, QVariantList args,
                 std::function<void(const QVariantMap&)> next);

    QDBusConnection bus_;
    std::filesystem::path tokenFile_;
    State state_ = State::idle;
    std::string status_ = userText("Portal", "waiting for the desktop's remote-control permission");
    std::uint32_t version_ = 0;
    std::uint32_t cursorModes_ = 0;
    std::uint32_t devices_ = 0;
    bool clipboardOffered_ = false;
    bool clipboardEnabled_ = false;
    std::vector<PortalStream> streams_;
    bool streamsPlaced_ = true;
    bool asksConsent_ = true;
    QDBusUnixFileDescriptor remote_;
    std::string screenStatus_ = "waiting for the desktop's screen-sharing permission";
    QString session_;
    std::unique_ptr<PortalRequest> pending_;
    std::function<void()> changed_;
};

}  // namespace tamborix::portal
