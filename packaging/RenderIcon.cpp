// Build tool: draws the program icon at the square sizes of the desktop icon theme and writes
// each as DIR/<size>.png, with the renderer the window icon uses, so that the menu entry and
// the window show the same picture. It needs no display.
// usage: orvane-render-icon SVG_FILE OUT_DIR SIZE...
#include "platform/ui/IconFromSvg.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QString>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kMaxSize = 1024;

std::optional<int> ParseSize(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kMaxSize) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.size() < 3) {
        std::fputs("usage: orvane-render-icon SVG_FILE OUT_DIR SIZE...\n", stderr);
        return kExitUsage;
    }
    std::vector<int> sizes;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::optional<int> size = ParseSize(args[i]);
        if (!size) {
            std::fprintf(stderr, "orvane-render-icon: \"%s\" is not a size from 1 to %d\n",
                         argv[i + 1], kMaxSize);
            return kExitUsage;
        }
        sizes.push_back(*size);
    }
    const std::optional<std::string> svg = ReadFile(argv[1]);
    if (!svg) {
        std::fprintf(stderr, "orvane-render-icon: cannot read %s\n", argv[1]);
        return kExitFailed;
    }
    // Pixmaps need the GUI application object; a build machine has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const std::filesystem::path outDir(argv[2]);
    for (const int size : sizes) {
        const QPixmap pixmap = PixmapFromSvg(*svg, size);
        const std::filesystem::path out = outDir / (std::to_string(size) + ".png");
        if (pixmap.isNull()) {
            std::fprintf(stderr, "orvane-render-icon: %s is not an SVG document Qt can draw\n",
                         argv[1]);
            return kExitFailed;
        }
        if (!pixmap.save(QString::fromStdString(out.string()), "PNG")) {
            std::fprintf(stderr, "orvane-render-icon: cannot write %s\n", out.c_str());
            return kExitFailed;
        }
    }
    return 0;
}
