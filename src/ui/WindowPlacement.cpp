#include "ui/WindowPlacement.h"

#include "store/IniFile.h"

namespace kadmel {
namespace {

const QByteArray Section = "Fenster";
constexpr int Largest = 65535; // no screen is wider, no window further away

// "a,b,c" with exactly `count` whole numbers in [low, Largest]; spaces around them are allowed, as
// other writers of the file put them.
std::optional<QList<int>> numbers(const QByteArray& value, qsizetype count, int low)
{
    const QList<QByteArray> parts = value.split(',');
    if (parts.size() != count)
        return std::nullopt;
    QList<int> result;
    for (const QByteArray& part : parts) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < low || n > Largest)
            return std::nullopt;
        result.append(n);
    }
    return result;
}

QByteArray joined(const QList<int>& values)
{
    QByteArrayList parts;
    for (const int v : values)
        parts.append(QByteArray::number(v));
    return parts.join(',');
}

} // namespace

WindowPlacement loadWindowPlacement(const QString& programFolder)
{
    WindowPlacement placement;
    const std::optional<IniSection> section =
        readIniSection(iniFilePathIn(programFolder), Section, nullptr, MaxPlacementFileBytes);
    if (!section)
        return placement;
    for (const auto& [name, value] : section->entries) {
        const QByteArray key = name.toLower();
        if (key == "position") {
            if (const auto n = numbers(value, 4, -Largest); n && n->at(2) > 0 && n->at(3) > 0)
                placement.geometry = QRect(n->at(0), n->at(1), n->at(2), n->at(3));
        } else if (key == "maximiert") {
            placement.maximized = value == "1";
        } else if (key == "teiler") {
            placement.splitter = numbers(value, 2, 0).value_or(QList<int>{});
        } else if (key.size() == 8 && key.startsWith("spalten") && key.at(7) >= '1' && key.at(7) <= '3') {
            placement.columns.at(key.at(7) - '1') = numbers(value, 7, 1).value_or(QList<int>{});
        }
    }
    return placement;
}

bool saveWindowPlacement(const QString& programFolder, const WindowPlacement& placement, QString* error)
{
    IniEntries entries;
    if (placement.geometry) {
        const QRect& r = *placement.geometry;
        entries.append({"Position", joined({r.x(), r.y(), r.width(), r.height()})});
    }
    entries.append({"Maximiert", QByteArray(placement.maximized ? "1" : "0")});
    if (!placement.splitter.isEmpty())
        entries.append({"Teiler", joined(placement.splitter)});
    for (int f = 0; f < 3; ++f) {
        if (!placement.columns.at(f).isEmpty())
            entries.append({"Spalten" + QByteArray::number(f + 1), joined(placement.columns.at(f))});
    }
    return writeIniSection(iniFilePathIn(programFolder), Section, entries, error, MaxPlacementFileBytes);
}

} // namespace kadmel
