#include "store/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kadmel {
namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString reasonOf(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::ResourceError:
        return QStringLiteral("Auf dem Datenträger ist kein Platz mehr.");
    case QFileDevice::OpenError:
        return QStringLiteral("Die Datei lässt sich nicht anlegen oder öffnen.");
    case QFileDevice::WriteError:
        return QStringLiteral("Beim Schreiben ist ein Fehler aufgetreten.");
    case QFileDevice::ReadError:
        return QStringLiteral("Beim Lesen ist ein Fehler aufgetreten.");
    case QFileDevice::RenameError:
        return QStringLiteral("Die neue Fassung ließ sich nicht an ihren Platz bringen.");
    case QFileDevice::PermissionsError:
        return QStringLiteral("Die Zugriffsrechte ließen sich nicht setzen.");
    default:
        return QStringLiteral("Unbekannter Dateifehler.");
    }
}

bool report(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

QString quotedName(const QString& path)
{
    return QStringLiteral("„%1“").arg(QFileInfo(path).fileName());
}

ReadOutcome readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* error)
{
    QFile file(path);
    // Open first and ask about existence only on failure: loading opens tens of thousands of files.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        if (!QFileInfo::exists(path))
            return ReadOutcome::Missing;
        report(error, QStringLiteral("%1 ließ sich nicht lesen: %2").arg(quotedName(path), reasonOf(file.error())));
        return ReadOutcome::Failed;
    }
    if (file.size() > maxBytes) {
        report(error, QStringLiteral("%1 ist mit %2 Bytes zu groß.").arg(quotedName(path)).arg(file.size()));
        return ReadOutcome::Failed;
    }
    // Sized by the file, not the limit (read() allocates what it is asked for); a file that grew
    // meanwhile is cut there, and a device without a size gives a byte that no record starts with.
    bytes = file.read(file.size() + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > maxBytes) {
        report(error, QStringLiteral("%1 ließ sich nicht lesen: %2").arg(quotedName(path), reasonOf(file.error())));
        return ReadOutcome::Failed;
    }
    return ReadOutcome::Read;
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error)
{
    const auto failed = [&](const QString& reason) {
        return report(error, QStringLiteral("%1 konnte nicht gespeichert werden. %2").arg(quotedName(path), reason));
    };
    const QFileInfo target(path);
    // A device or folder in the file's place is never replaced.
    if (target.exists() && !target.isFile())
        return failed(QStringLiteral("An ihrer Stelle steht keine gewöhnliche Datei."));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(reasonOf(file.error()));
    // Owner-only before the first byte: the file holds the password and private mail.
    file.setPermissions(OwnerOnly);
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QFileDevice::FileError reason = file.error();
        file.cancelWriting();
        return failed(reasonOf(reason));
    }
    if (!file.commit())
        return failed(reasonOf(file.error()));
    if (!QFile::setPermissions(path, OwnerOnly))
        return failed(reasonOf(QFileDevice::PermissionsError));
    return true;
}

bool removeFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.exists() || file.remove())
        return true;
    return report(error, QStringLiteral("%1 ließ sich nicht löschen.").arg(quotedName(path)));
}

bool renameFile(const QString& from, const QString& to, QString* error)
{
    // QFile::rename never replaces an existing file; the questions are asked only after a failure.
    if (QFile::rename(from, to))
        return true;
    if (QFile::exists(to))
        return report(error, QStringLiteral("%1 kann nicht in %2 umbenannt werden: Diese Datei gibt es schon.")
                                 .arg(quotedName(from), quotedName(to)));
    return report(error, QStringLiteral("%1 ließ sich nicht in %2 umbenennen.").arg(quotedName(from), quotedName(to)));
}

bool keepAsBad(const QString& path, QString* error)
{
    // A copy, so the damaged file itself stays until a save replaces it.
    const QString bad = path + QStringLiteral(".bad");
    if (!removeFile(bad, error))
        return false;
    if (!QFile::copy(path, bad))
        return report(error,
                      QStringLiteral("%1 ließ sich nicht als %2 sichern.").arg(quotedName(path), quotedName(bad)));
    QFile::setPermissions(bad, OwnerOnly);
    return true;
}

} // namespace kadmel
