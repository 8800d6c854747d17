#include "platform/ui/CWindowPlacement.h"

#include <algorithm>
#include <fstream>
#include <system_error>

namespace {

// Wider than any screen set we expect; a bigger number was not written by us.
constexpr int kMaxCoordinate = 100000;

bool InRange(int value) {
    return value > -kMaxCoordinate && value < kMaxCoordinate;
}

long long Overlap(const QRect& a, const QRect& b) {
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : static_cast<long long>(both.width()) * both.height();
}

} // namespace

std::optional<QRect> CWindowPlacement::Load(QSize minimum) const {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(m_file, ec);
    if (ec || size > kMaxFileSize) {
        return std::nullopt;
    }
    std::ifstream in(m_file);
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::string rest;
    if (!(in >> x >> y >> width >> height) || (in >> rest) || !InRange(x) || !InRange(y) ||
        width <= 0 || height <= 0 || width >= kMaxCoordinate || height >= kMaxCoordinate) {
        return std::nullopt;
    }
    return QRect(x, y, std::max(width, minimum.width()), std::max(height, minimum.height()));
}

bool CWindowPlacement::Save(const QRect& place) const {
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);
    // Written aside and renamed, so that a crash midway leaves the old file whole.
    std::filesystem::path temporary = m_file;
    temporary += ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << place.x() << ' ' << place.y() << ' ' << place.width() << ' ' << place.height()
            << '\n';
        if (!out.flush()) {
            return false;
        }
    }
    std::filesystem::rename(temporary, m_file, ec);
    return !ec;
}

QRect CWindowPlacement::PullOnScreen(QRect place, std::span<const QRect> screens) {
    if (screens.empty()) {
        return place;
    }
    const QRect strip(place.topLeft(), QSize(place.width(), kReachable));
    const QRect* best = &screens.front();
    for (const QRect& screen : screens) {
        if (Overlap(strip, screen) > Overlap(strip, *best)) {
            best = &screen;
        }
    }
    if (Overlap(strip, *best) >= static_cast<long long>(std::min(place.width(), kReachable)) *
                                     std::min(kReachable, place.height())) {
        return place;
    }
    place.setWidth(std::min(place.width(), best->width()));
    place.setHeight(std::min(place.height(), best->height()));
    place.moveLeft(std::clamp(place.left(), best->left(), best->right() - place.width() + 1));
    place.moveTop(std::clamp(place.top(), best->top(), best->bottom() - place.height() + 1));
    return place;
}
