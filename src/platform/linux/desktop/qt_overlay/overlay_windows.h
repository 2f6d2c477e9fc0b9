#pragma once
// The two overlay windows: borderless, above every window, outside the window manager (so on
// every workspace and in no task bar), transparent for input. With `alpha` they are translucent
// (a compositor blends them); without it they are opaque and cut to their round drawing with the
// X Shape extension, since an unblended window would show its transparent pixels as black.

#include <QElapsedTimer>
#include <QRasterWindow>
#include <QTimer>

namespace tamborix::qt {

class OverlayWindow : public QRasterWindow {
public:
    OverlayWindow(int size, bool alpha);
    [[nodiscard]] bool translucent() const noexcept { return alpha_; }

    // Shows the window with its top-left corner at `origin` and raises it above the others.
    void showAt(QPoint origin);

protected:
    bool alpha_;
};

class LaserWindow final : public OverlayWindow {
public:
    explicit LaserWindow(bool alpha);

protected:
    void paintEvent(QPaintEvent*) override;
};

class FinderWindow final : public OverlayWindow {
public:
    explicit FinderWindow(bool alpha);

    // Plays the pulse from its start.
    void restart();
    void stop();
    [[nodiscard]] bool pulsing() const { return frames_.isActive(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    // Ring `ring`'s progress through its animation at `seconds` into the pulse, in [0, 1], or a
    // negative number while it waits or after it ended.
    [[nodiscard]] static double progress(int ring, double seconds);
    void frame();

    QTimer frames_;
    QElapsedTimer clock_;
    double seconds_ = 0;
};

}  // namespace tamborix::qt
