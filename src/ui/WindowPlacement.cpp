#include "ui/WindowPlacement.h"

#include "store/EncryptionSetting.h"
#include "store/FileAccess.h"

namespace kadmel {
namespace {

const QByteArray Section = "[Fenster]";
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

bool isSection(const QByteArray& line)
{
    return line.trimmed().startsWith('[');
}

} // namespace

WindowPlacement loadWindowPlacement(const QString& programFolder)
{
    WindowPlacement placement;
    QByteArray bytes;
    if (readWholeFile(encryptionFilePathIn(programFolder), MaxPlacementFileBytes, bytes, nullptr) != ReadOutcome::Read)
        return placement;
    bool inSection = false;
    for (QByteArray line : bytes.split('\n')) {
        line = line.trimmed();
        if (isSection(line)) {
            inSection = line == Section;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (!inSection || equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Position") {
            if (const auto n = numbers(value, 4, -Largest); n && n->at(2) > 0 && n->at(3) > 0)
                placement.geometry = QRect(n->at(0), n->at(1), n->at(2), n->at(3));
        } else if (key == "Maximiert") {
            placement.maximized = value == "1";
        } else if (key == "Teiler") {
            placement.splitter = numbers(value, 2, 0).value_or(QList<int>{});
        } else if (key.size() == 8 && key.startsWith("Spalten") && key.at(7) >= '1' && key.at(7) <= '3') {
            placement.columns.at(key.at(7) - '1') = numbers(value, 7, 1).value_or(QList<int>{});
        }
    }
    return placement;
}

bool saveWindowPlacement(const QString& programFolder, const WindowPlacement& placement, QString* error)
{
    const QString path = encryptionFilePathIn(programFolder);
    QByteArray old;
    if (readWholeFile(path, MaxPlacementFileBytes, old, error) == ReadOutcome::Failed)
        return false;

    // Every line outside [Fenster] stays, in its order; the section is written anew at the end.
    QByteArrayList kept;
    bool inSection = false;
    for (const QByteArray& line : old.split('\n')) {
        if (isSection(line))
            inSection = line.trimmed() == Section;
        if (!inSection)
            kept.append(line);
    }
    while (!kept.isEmpty() && kept.last().trimmed().isEmpty())
        kept.removeLast();
    QByteArray text = kept.join('\n');
    if (!text.isEmpty())
        text += "\n\n";
    text += Section + '\n';
    if (placement.geometry) {
        const QRect& r = *placement.geometry;
        text += "Position=" + joined({r.x(), r.y(), r.width(), r.height()}) + '\n';
    }
    text += QByteArray("Maximiert=") + (placement.maximized ? '1' : '0') + '\n';
    if (!placement.splitter.isEmpty())
        text += "Teiler=" + joined(placement.splitter) + '\n';
    for (int f = 0; f < 3; ++f) {
        if (!placement.columns.at(f).isEmpty())
            text += "Spalten" + QByteArray::number(f + 1) + '=' + joined(placement.columns.at(f)) + '\n';
    }
    return writeWholeFile(path, text, error);
}

} // namespace kadmel
