#pragma once
// The small symbols of the windows and the tray, drawn with QPainter so that they look the same
// on every desktop and need no icon theme.

#include <QColor>
#include <QIcon>
#include <QPixmap>

namespace tamborix::ui {

enum class Symbol {
    cursorRays,         // idle tray icon and the header
    cursorMotionLines,  // tray icon while a phone is connected
    network,
    bluetooth,
    screenShared,
    lock,
    qrCode,
    warning,
    shieldCheck,
    info,               // a neutral notice
    ellipsis,
};

// `size` in device-independent pixels; `color` invalid = the symbol's own colour or the text colour.
[[nodiscard]] QPixmap symbolPixmap(Symbol symbol, int size, QColor color = {});
// Several sizes, for the tray (panels ask for 16 to 48 pixels).
[[nodiscard]] QIcon symbolIcon(Symbol symbol, QColor color = {});
// The tray icon: the symbol in white on a blue tile with a dark rim, so that it stands out on light
// and dark panels alike (a panel's text colour says nothing about its background).
[[nodiscard]] QPixmap trayPixmap(Symbol symbol, int size);
[[nodiscard]] QIcon trayIcon(Symbol symbol);

}  // namespace tamborix::ui
