#pragma once

#include <QList>
#include <QRect>
#include <QString>
#include <array>
#include <optional>

namespace kadmel {

// Where the user left the main window: its place and size, the split between tree and lists, and the
// column widths of the three lists. Kept in the section [Fenster] of "kadmel.ini"; the file's other
// sections are left as they stand.
struct WindowPlacement
{
    std::optional<QRect> geometry; // the window in its normal state, without its frame
    bool maximized = false;
    QList<int> splitter;               // widths of the two panes, left first
    std::array<QList<int>, 3> columns; // per folder, one width for each of the seven columns

    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// kadmel.ini is read up to this size; a bigger file is none of ours and is left alone.
inline constexpr qint64 MaxPlacementFileBytes = 64 * 1024;

// What the file holds. A missing or unreadable file, or a value out of its range, leaves that value unset.
WindowPlacement loadWindowPlacement(const QString& programFolder);

// Replaces the section [Fenster]; the file stays readable by its owner only. On failure the reason is
// German, for the user, and the file is unchanged.
bool saveWindowPlacement(const QString& programFolder, const WindowPlacement& placement, QString* error = nullptr);

} // namespace kadmel
