#pragma once
// The desktop's clipboard through the portal's Clipboard interface (xdg-desktop-portal 1.18 and
// later), on the remote-desktop session that asked for it before it started. Text the phone sets
// is offered as the selection and written to the desktop whenever a program pastes it; text
// copied on the desktop is read when the phone asks.

#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>
#include <memory>
#include <optional>
#include <string>

#include "ports/clipboard.h"

namespace tamborix::portal {

class RemoteDesktopSession;

class PortalClipboard final : public QObject, public Clipboard {
    Q_OBJECT
public:
    // `otherwise` serves where the portal has no Clipboard interface (known once the session
    // started; until then the clipboard counts as not shared).
    PortalClipboard(RemoteDesktopSession& session, std::unique_ptr<Clipboard> otherwise);

    [[nodiscard]] std::optional<std::string> text() const override;
    bool setText(const std::string& text) override;
    [[nodiscard]] std::string unavailableReason() const override;

private Q_SLOTS:
    void onOwnerChanged(const QDBusObjectPath& session, const QVariantMap& options);
    void onTransfer(const QDBusObjectPath& session, const QString& mimeType, uint serial);

private:
    [[nodiscard]] bool portalServes() const;

    RemoteDesktopSession& session_;
    std::unique_ptr<Clipboard> otherwise_;
    std::optional<std::string> offered_;  // the phone's text while the helper owns the selection
};

}  // namespace tamborix::portal
