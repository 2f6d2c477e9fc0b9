#include "platform/linux/support/gio/icon_images.h"

#include <gio/gio.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <array>
#include <cstdlib>

#include "base/owned.h"

namespace tamborix::gio {

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> dataDirs() {
    std::vector<fs::path> dirs;
    const char* home = std::getenv("XDG_DATA_HOME");
    if (home && *home) {
        dirs.emplace_back(home);
    } else if (const char* h = std::getenv("HOME")) {
        dirs.emplace_back(fs::path(h) / ".local/share");
    }
    std::string list = std::getenv("XDG_DATA_DIRS") ? std::getenv("XDG_DATA_DIRS") : "";
    if (list.empty()) list = "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        const auto end = std::min(list.find(':', start), list.size());
        if (end > start) dirs.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    return dirs;
}

// The desktop's chosen theme, where the desktop settings schema is installed.
std::string userTheme() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (!source) return {};
    const Owned<GSettingsSchema, g_settings_schema_unref> schema(
        g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE));
    if (!schema) return {};
    std::string theme;
    if (g_settings_schema_has_key(schema.get(), "icon-theme")) {
        const Owned<GSettings, g_object_unref> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
        const Owned<gchar, g_free> value(g_settings_get_string(settings.get(), "icon-theme"));
        theme = value ? value.get() : "";
    }
    return theme;
}

std::optional<fs::path> inTheme(const std::vector<fs::path>& dirs, const std::string& theme,
                                const std::string& name, int px) {
    // Exact size first, then scalable, then any larger bitmap, then any smaller one.
    const std::string exact = std::to_string(px) + "x" + std::to_string(px);
    std::optional<fs::path> larger, smaller;
    int largerSize = 1 << 30, smallerSize = 0;
    std::error_code ec;
    for (const auto& dir : dirs) {
        const fs::path root = dir / "icons" / theme;
        if (!fs::is_directory(root, ec)) continue;
        for (const char* ext : {".png", ".svg"}) {
            for (const char* cat : {"apps", "applications"}) {
                const auto p = root / exact / cat / (name + ext);
                if (fs::exists(p, ec)) return p;
            }
        }
        for (const char* cat : {"apps", "applications"}) {
            const auto p = root / "scalable" / cat / (name + ".svg");
            if (fs::exists(p, ec)) return p;
        }
        for (const auto& sizeDir : fs::directory_iterator(root, ec)) {
            const std::string s = sizeDir.path().filename().string();
            const int size = std::atoi(s.c_str());
            if (size <= 0) continue;
            for (const char* cat : {"apps", "applications"}) {
                const auto p = sizeDir.path() / cat / (name + ".png");
                if (!fs::exists(p, ec)) continue;
                if (size >= px && size < largerSize) largerSize = size, larger = p;
                if (size < px && size > smallerSize) smallerSize = size, smaller = p;
            }
        }
    }
    if (larger) return larger;
    return smaller;
}

std::optional<Bytes> encode(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return std::nullopt;
    const QByteArray& data = buffer.data();
    return Bytes(reinterpret_cast<const std::uint8_t*>(data.constData()),
                 reinterpret_cast<const std::uint8_t*>(data.constData()) + data.size());
}

QImage fitted(const QImage& source, int px) {
    if (source.isNull()) return {};
    QImage canvas(px, px, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(0, 0, px, px), source);
    painter.end();
    return canvas.convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

std::optional<fs::path> findIconFile(const std::string& name, int px) {
    if (name.empty() || px <= 0) return std::nullopt;
    std::error_code ec;
    if (fs::path(name).is_absolute()) {
        if (fs::is_regular_file(name, ec)) return fs::path(name);
        return std::nullopt;
    }
    if (name.find('/') != std::string::npos) return std::nullopt;
    const auto dirs = dataDirs();
    std::vector<std::string> themes;
    if (auto theme = userTheme(); !theme.empty() && theme != "hicolor") themes.push_back(theme);
    themes.emplace_back("hicolor");
    for (const auto& theme : themes) {
        if (auto found = inTheme(dirs, theme, name, px)) return found;
    }
    for (const auto& dir : dirs) {
        for (const char* ext : {".png", ".svg", ".xpm"}) {
            const auto p = dir / "pixmaps" / (name + ext);
            if (fs::exists(p, ec)) return p;
        }
    }
    return std::nullopt;
}

std::optional<Bytes> themeIconPNG(const std::string& name, int px) {
    const auto file = findIconFile(name, px);
    if (!file) return std::nullopt;
    return iconFilePNG(*file, px);
}

std::optional<Bytes> iconFilePNG(const fs::path& file, int px) {
    if (px <= 0) return std::nullopt;
    const QString path = QString::fromStdString(file.string());
    if (file.extension() == ".svg" || file.extension() == ".svgz") {
        QSvgRenderer renderer(path);
        if (!renderer.isValid()) return std::nullopt;
        QImage canvas(px, px, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter painter(&canvas);
        renderer.render(&painter, QRectF(0, 0, px, px));
        painter.end();
        return encode(canvas.convertToFormat(QImage::Format_ARGB32));
    }
    return encode(fitted(QImage(path), px));
}

std::optional<Bytes> argbIconPNG(const std::vector<std::uint32_t>& value, int px) {
    if (px <= 0) return std::nullopt;
    std::size_t best = value.size();
    std::uint32_t bestWidth = 0;
    for (std::size_t i = 0; i + 2 <= value.size();) {
        const std::uint32_t w = value[i], h = value[i + 1];
        const std::uint64_t n = std::uint64_t{w} * h;
        if (w == 0 || h == 0 || w > 4096 || h > 4096 || n > value.size() - i - 2) break;
        const bool better = best == value.size() ||
                            (w >= static_cast<std::uint32_t>(px)
                                 ? (bestWidth < static_cast<std::uint32_t>(px) || w < bestWidth)
                                 : (bestWidth < static_cast<std::uint32_t>(px) && w > bestWidth));
        if (better) best = i, bestWidth = w;
        i += 2 + static_cast<std::size_t>(n);
    }
    if (best == value.size()) return std::nullopt;
    const int w = static_cast<int>(value[best]), h = static_cast<int>(value[best + 1]);
    QImage image(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) row[x] = value[best + 2 + static_cast<std::size_t>(y) * w + x];
    }
    return encode(fitted(image, px));
}

}  // namespace tamborix::gio
