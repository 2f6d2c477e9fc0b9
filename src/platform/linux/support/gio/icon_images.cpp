#include "platform/linux/support/gio/icon_images.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>

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

using Pixbuf = Owned<GdkPixbuf, g_object_unref>;

// An icon file larger than this is not an icon.
constexpr gsize maxIconFileBytes = 4 << 20;

// gdk-pixbuf rather than a toolkit: a console helper draws icons without loading a GUI library,
// and an SVG's renderer is loaded only when the first SVG icon is drawn.
std::optional<Bytes> encode(GdkPixbuf* image) {
    if (!image) return std::nullopt;
    Pixbuf withAlpha(gdk_pixbuf_get_has_alpha(image) ? GDK_PIXBUF(g_object_ref(image))
                                                     : gdk_pixbuf_add_alpha(image, FALSE, 0, 0, 0));
    if (!withAlpha) return std::nullopt;
    gchar* data = nullptr;
    gsize size = 0;
    if (!gdk_pixbuf_save_to_buffer(withAlpha.get(), &data, &size, "png", nullptr, nullptr)) return std::nullopt;
    const Owned<gchar, g_free> owned(data);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    return Bytes(bytes, bytes + size);
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
    // By the name's extension: sniffing the content needs the MIME database, which a trimmed
    // XDG_DATA_DIRS hides, and then takes an SVG for some other format.
    const std::string ext = file.extension().string();
    const char* type = ext == ".svg" || ext == ".svgz" ? "svg" : ext == ".png" ? "png" : ext == ".xpm" ? "xpm" : nullptr;
    const Owned<GdkPixbufLoader, g_object_unref> loader(type ? gdk_pixbuf_loader_new_with_type(type, nullptr)
                                                             : gdk_pixbuf_loader_new());
    if (!loader) return std::nullopt;
    // Drawn at the asked size (an SVG is rendered there, not scaled from its own size) and
    // stretched to the square like every other icon the phone shows.
    g_signal_connect(loader.get(), "size-prepared",
                     G_CALLBACK(+[](GdkPixbufLoader* l, int, int, gpointer size) {
                         const int edge = *static_cast<const int*>(size);
                         gdk_pixbuf_loader_set_size(l, edge, edge);
                     }),
                     &px);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > maxIconFileBytes || ec) return std::nullopt;
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(file.c_str(), &contents, &length, nullptr)) return std::nullopt;
    const Owned<gchar, g_free> owned(contents);
    const bool written = length <= maxIconFileBytes &&
                         gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(contents), length, nullptr);
    if (!gdk_pixbuf_loader_close(loader.get(), nullptr) || !written) return std::nullopt;
    GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!image) return std::nullopt;
    if (gdk_pixbuf_get_width(image) == px && gdk_pixbuf_get_height(image) == px) return encode(image);
    const Pixbuf fitted(gdk_pixbuf_scale_simple(image, px, px, GDK_INTERP_BILINEAR));
    return encode(fitted.get());
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
    const Pixbuf image(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h));
    if (!image) return std::nullopt;
    guchar* pixels = gdk_pixbuf_get_pixels(image.get());
    const int stride = gdk_pixbuf_get_rowstride(image.get());
    for (int y = 0; y < h; ++y) {
        guchar* row = pixels + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < w; ++x) {
            const std::uint32_t argb = value[best + 2 + static_cast<std::size_t>(y) * w + x];
            row[4 * x] = static_cast<guchar>(argb >> 16);
            row[4 * x + 1] = static_cast<guchar>(argb >> 8);
            row[4 * x + 2] = static_cast<guchar>(argb);
            row[4 * x + 3] = static_cast<guchar>(argb >> 24);
        }
    }
    const Pixbuf fitted(gdk_pixbuf_scale_simple(image.get(), px, px, GDK_INTERP_BILINEAR));
    return encode(fitted.get());
}

}  // namespace tamborix::gio
