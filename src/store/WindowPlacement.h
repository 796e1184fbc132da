#pragma once

#include "store/IniFile.h"

#include <QList>
#include <QRect>
#include <QString>
#include <array>
#include <optional>

namespace kadmel {

// Where the user left the main window: its place and size, the split between tree and lists, and the
// column widths of the three lists. Kept in the section [Fenster] of "kadmel.ini" (read and saved through
// the store's KadmelIniFile); the file's other sections are left as they stand.
struct WindowPlacement
{
    std::optional<QRect> geometry; // the window in its normal state, without its frame
    bool maximized = false;
    QList<int> splitter;               // widths of the two panes, left first
    std::array<QList<int>, 3> columns; // per folder, one width for each column (seven before "Eingang", eight)

    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// What the section [Fenster] holds; a value out of its range is left unset.
WindowPlacement readWindowPlacement(const IniSection& section);
// The keys that keep it; a value the placement does not have is taken out.
QList<IniChange> placementIniChanges(const WindowPlacement& placement);

} // namespace kadmel
