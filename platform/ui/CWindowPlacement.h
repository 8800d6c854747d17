// Where a window was and how big, kept in a small text file between runs ("x y width height").
// A file that is missing, too long or holds anything else is ignored; a place that would leave
// the window off every screen is pulled back onto one.
#pragma once

#include <QRect>
#include <QSize>
#include <filesystem>
#include <optional>
#include <span>

class CWindowPlacement {
public:
    // Longer files were not written by us.
    static constexpr std::uintmax_t kMaxFileSize = 256;
    // How much of the window's title strip must stay on a screen to be reachable.
    static constexpr int kReachable = 48;

    explicit CWindowPlacement(std::filesystem::path file) : m_file(std::move(file)) {}

    const std::filesystem::path& File() const { return m_file; }

    // The stored place, at least minimum in size; nothing when the file holds none.
    std::optional<QRect> Load(QSize minimum) const;
    // Writes the place (the folder is made); false when it cannot be written.
    bool Save(const QRect& place) const;

    // The place moved (and shrunk where it must) so that its top strip lies on the screen it
    // overlaps most, or on the first screen when it overlaps none.
    static QRect PullOnScreen(QRect place, std::span<const QRect> screens);

private:
    std::filesystem::path m_file;
};
