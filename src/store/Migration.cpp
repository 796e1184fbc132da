#include "store/Migration.h"

#include "store/CryptString.h"
#include "store/FileAccess.h"
#include "store/SettingsFile.h"
#include "store/StorePaths.h"

#include <QDir>
#include <algorithm>
#include <array>

namespace kadmel {
namespace {

// Versions whose settings and index files have the current layout. The 2.9 settings file is the one
// exception; its index file is copied like the others.
const std::array<QString, 7> CopiedVersions = {QStringLiteral("2.3"), QStringLiteral("2.4"), QStringLiteral("2.5"),
                                               QStringLiteral("2.6"), QStringLiteral("2.7"), QStringLiteral("2.8"),
                                               QStringLiteral("2.9")};

// The name's slot: 1 for the settings file, 2 for the index file, 0 for none.
int slotOf(const QString& name)
{
    if (name.size() < 8 || name.left(7).compare(QStringLiteral("zubdata"), Qt::CaseInsensitive) != 0 ||
        !name.endsWith(QStringLiteral("zub"), Qt::CaseSensitive))
        return 0;
    const QChar digit = name.at(7);
    return digit == u'1' ? 1 : digit == u'2' ? 2 : 0;
}

bool convertOldSettings(const QByteArray& bytes, QByteArray& converted, QString* error)
{
    Settings old;
    if (!decodeOldSettings(bytes, old, error))
        return false;
    Settings current;
    current.WatchFolder = CryptString(old.WatchFolder, 2);
    current.SmtpServer = CryptString(old.SmtpServer, 2);
    current.SmtpUser = CryptString(old.SmtpUser, 2);
    current.SmtpPassword = CryptString(old.SmtpPassword, 2);
    // Written as it stands: loading unscrambles each text once more.
    converted = encodeSettingsRecord(current);
    return true;
}

// Copies or converts one old file to its "3.0" name and deletes it; an old file that could not be
// taken over stays.
bool takeOver(const QString& programFolder, int slot, const QString& oldPath, const QString& version, QString* error)
{
    const bool convert = slot == 1 && version == QStringLiteral("2.9");
    if (!convert && std::find(CopiedVersions.begin(), CopiedVersions.end(), version) == CopiedVersions.end())
        return true; // the current version, or one this program does not know: left alone
    QByteArray bytes;
    const qint64 maxBytes = slot == 1 ? MaxSettingsFileBytes : MaxIndexFileBytes;
    if (readWholeFile(oldPath, maxBytes, bytes, error) != ReadOutcome::Read)
        return false;
    if (convert) {
        QByteArray converted;
        if (!convertOldSettings(bytes, converted, error)) {
            *error = QStringLiteral("%1 ist beschädigt: %2").arg(quotedName(oldPath), *error);
            return false;
        }
        bytes = converted;
    }
    const QString target = slot == 1 ? settingsFilePathIn(programFolder) : indexFilePathIn(programFolder);
    return writeWholeFile(target, bytes, error) && removeFile(oldPath, error);
}

} // namespace

QStringList MigrateOldFiles(const QString& programFolder)
{
    const QDir folder(programFolder);
    QString slotNames[2];
    for (const QString& name :
         folder.entryList({QStringLiteral("*.zub")}, QDir::Files, QDir::Name | QDir::IgnoreCase)) {
        if (const int slot = slotOf(name); slot != 0)
            slotNames[slot - 1] = name; // a later name replaces an earlier one
    }

    QStringList problems;
    for (const int slot : {1, 2}) {
        const QString& name = slotNames[slot - 1];
        if (name.isEmpty())
            continue;
        const QString path = folder.filePath(name);
        const qsizetype open = name.indexOf(u'(');
        const qsizetype close = name.indexOf(u')');
        QString error;
        if (open < 0 || close < 0) {
            if (!removeFile(path, &error))
                problems << error;
            continue;
        }
        if (close < open)
            continue;
        if (!takeOver(programFolder, slot, path, name.mid(open + 1, close - open - 1), &error))
            problems << QStringLiteral("Die alte Datei %1 wurde nicht übernommen. %2").arg(quotedName(path), error);
    }
    return problems;
}

} // namespace kadmel
