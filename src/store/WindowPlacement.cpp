#include "store/WindowPlacement.h"

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

WindowPlacement readWindowPlacement(const IniSection& section)
{
    WindowPlacement placement;
    for (const auto& [name, value] : section.entries) {
        const QByteArray key = name.toLower();
        if (key == "position") {
            if (const auto n = numbers(value, 4, -Largest); n && n->at(2) > 0 && n->at(3) > 0)
                placement.geometry = QRect(n->at(0), n->at(1), n->at(2), n->at(3));
        } else if (key == "maximiert") {
            placement.maximized = value == "1";
        } else if (key == "teiler") {
            placement.splitter = numbers(value, 2, 0).value_or(QList<int>{});
        } else if (key.size() == 8 && key.startsWith("spalten") && key.at(7) >= '1' && key.at(7) <= '3') {
            // Seven from a version before the column "Eingang", eight since.
            placement.columns.at(key.at(7) - '1') =
                numbers(value, 8, 1).value_or(numbers(value, 7, 1).value_or(QList<int>{}));
        }
    }
    return placement;
}

QList<IniChange> placementIniChanges(const WindowPlacement& placement)
{
    const auto unlessEmpty = [](const QList<int>& values) {
        return values.isEmpty() ? std::nullopt : std::optional<QByteArray>(joined(values));
    };
    std::optional<QByteArray> position;
    if (const std::optional<QRect>& r = placement.geometry)
        position = joined({r->x(), r->y(), r->width(), r->height()});
    QList<IniChange> changes = {
        {Section, "Position", position},
        {Section, "Maximiert", QByteArray(placement.maximized ? "1" : "0")},
        {Section, "Teiler", unlessEmpty(placement.splitter)},
    };
    for (int f = 0; f < 3; ++f)
        changes.append({Section, "Spalten" + QByteArray::number(f + 1), unlessEmpty(placement.columns.at(f))});
    return changes;
}

} // namespace kadmel
