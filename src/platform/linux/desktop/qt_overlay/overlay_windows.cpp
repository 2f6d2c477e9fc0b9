#include "platform/linux/desktop/qt_overlay/overlay_windows.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegion>
#include <QSurfaceFormat>
#include <cmath>

#include "core/desktop/overlay_style.h"

namespace tamborix::qt {

namespace {

namespace style = overlay_style;

QColor colour(const style::Rgba& c, double alphaScale = 1.0) {
    return QColor::fromRgbF(static_cast<float>(c.red), static_cast<float>(c.green),
                            static_cast<float>(c.blue), static_cast<float>(c.alpha * alphaScale));
}

int whole(double length) { return static_cast<int>(std::lround(length)); }

}  // namespace

OverlayWindow::OverlayWindow(int size, bool alpha) : alpha_(alpha) {
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
             Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus |
             Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint);
    if (alpha_) {
        QSurfaceFormat format = requestedFormat();
        format.setAlphaBufferSize(8);
        setFormat(format);
    }
    resize(size, size);
}

void OverlayWindow::showAt(QPoint origin) {
    setPosition(origin);
    if (!isVisible()) show();
    raise();
}

LaserWindow::LaserWindow(bool alpha) : OverlayWindow(whole(style::laser::size), alpha) {
    if (!alpha_) {
        // The dot with its border, nothing of the glow.
        const double edge = style::laser::dotInset - style::laser::dotBorderWidth;
        const int d = whole(style::laser::size - 2 * edge);
        setMask(QRegion(whole(edge), whole(edge), d, d, QRegion::Ellipse));
    }
}

void LaserWindow::paintEvent(QPaintEvent*) {
    namespace l = style::laser;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(0, 0, l::size, l::size);
    if (alpha_) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(box, Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        // From the centre out to the corners.
        QRadialGradient glow(box.center(), l::size * std::sqrt(0.5));
        glow.setColorAt(0.0, colour(l::glowCentre));
        glow.setColorAt(1.0, colour(l::glowEdge));
        p.fillRect(box, glow);
    } else {
        p.fillRect(box, colour(l::dotBorder, 1.0 / l::dotBorder.alpha));
    }
    const QRectF dot = box.adjusted(l::dotInset, l::dotInset, -l::dotInset, -l::dotInset);
    p.setBrush(colour(l::dotFill));
    p.setPen(QPen(colour(l::dotBorder), l::dotBorderWidth));
    p.drawEllipse(dot);
}

FinderWindow::FinderWindow(bool alpha) : OverlayWindow(whole(style::finder::size), alpha) {
    frames_.setTimerType(Qt::PreciseTimer);
    frames_.setInterval(16);
    QObject::connect(&frames_, &QTimer::timeout, &frames_, [this] { frame(); });
}

double FinderWindow::progress(int ring, double seconds) { return style::finder::ringProgress(ring, seconds); }

void FinderWindow::restart() {
    clock_.start();
    seconds_ = 0;
    frames_.start();
    frame();
}

void FinderWindow::stop() {
    frames_.stop();
    hide();
}

void FinderWindow::frame() {
    namespace f = style::finder;
    seconds_ = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    if (seconds_ >= f::pulseEndSeconds) {
        seconds_ = f::pulseEndSeconds + 1;  // every ring at its end state: invisible
        frames_.stop();
    }
    if (!alpha_) {
        // The rings' strokes as the window's shape: nothing else of it is on the screen.
        QRegion shape;
        const QPointF c(f::size / 2, f::size / 2);
        for (int ring = 0; ring < f::rings; ++ring) {
            const double at = progress(ring, seconds_);
            if (at < 0) continue;
            const double scale = f::scaleFrom + (f::scaleTo - f::scaleFrom) * at;
            const double outer = (f::ringDiameter + f::ringLineWidth) * scale;
            const double inner = std::max(0.0, (f::ringDiameter - f::ringLineWidth) * scale);
            const auto circle = [&](double d) {
                return QRegion(whole(c.x() - d / 2), whole(c.y() - d / 2), whole(d), whole(d),
                               QRegion::Ellipse);
            };
            shape += circle(outer).subtracted(circle(inner));
        }
        // An empty mask would mean no shape at all: keep one pixel-free window by hiding instead.
        if (shape.isEmpty()) {
            hide();
            return;
        }
        setMask(shape);
    }
    requestUpdate();
    update();
}

void FinderWindow::paintEvent(QPaintEvent*) {
    namespace f = style::finder;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (alpha_) {
        p.setCompositionMode(QPainter::CompositionMode_Source);
        p.fillRect(QRectF(0, 0, f::size, f::size), Qt::transparent);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    for (int ring = 0; ring < f::rings; ++ring) {
        const double at = progress(ring, seconds_);
        if (at < 0) continue;
        const double scale = f::scaleFrom + (f::scaleTo - f::scaleFrom) * at;
        const double opacity = alpha_ ? f::opacityFrom + (f::opacityTo - f::opacityFrom) * at : 1.0;
        p.save();
        p.translate(f::size / 2, f::size / 2);
        p.scale(scale, scale);
        p.translate(-f::size / 2, -f::size / 2);
        p.setOpacity(opacity);
        const QRectF circle(f::ringInset, f::ringInset, f::ringDiameter, f::ringDiameter);
        if (alpha_) {
            p.setPen(Qt::NoPen);
            p.setBrush(colour(f::ringFill));
            p.drawEllipse(circle);
        }
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(colour(f::ringStroke), f::ringLineWidth));
        p.drawEllipse(circle);
        p.restore();
    }
}

}  // namespace tamborix::qt
