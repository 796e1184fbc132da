#include "app/ProgramFolder.h"

#include "store/FileAccess.h"
#include "store/StorePaths.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace kadmel {
namespace {

constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

bool isSystemFolder(const QString& folder)
{
    const QString path = QDir::cleanPath(folder) + QLatin1Char('/');
    for (const char* prefix : {"/usr/", "/opt/", "/bin/", "/sbin/", "/lib/", "/snap/"}) {
        if (path.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

bool canWriteIn(const QString& folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.kadmel-probe-XXXXXX"));
    return probe.open();
}

// The files that make a store: the store files of any version and kadmel.ini beside them, and the
// mail files. Regular files only: a link or a FIFO is not copied.
QStringList storeFilesIn(const QString& folder)
{
    QStringList files;
    const QDir top(folder);
    for (const QString& name :
         top.entryList({QStringLiteral("zubdata*.zub"), QStringLiteral("kadmel.ini")}, QDir::Files | QDir::NoSymLinks))
        files << name;
    const QDir mails(mailsFolderIn(folder));
    for (const QString& name : mails.entryList({QStringLiteral("Mail(*).zub")}, QDir::Files | QDir::NoSymLinks))
        files << QStringLiteral("Mails/") + name;
    return files;
}

bool holdsStore(const QString& folder)
{
    return !storeFilesIn(folder).isEmpty();
}

// Copies the store file by file; on a failure what was copied goes again, so the next start tries anew.
bool copyStore(const QString& from, const QString& to, QString* error)
{
    QStringList copied;
    const auto undo = [&](const QString& reason) {
        for (const QString& name : std::as_const(copied))
            QFile::remove(to + QLatin1Char('/') + name);
        *error = reason;
        return false;
    };
    if (!QDir().mkdir(mailsFolderIn(to), OwnerOnlyFolder) && !QFileInfo(mailsFolderIn(to)).isDir())
        return undo(QStringLiteral("Der Ordner %1 ließ sich nicht anlegen.").arg(quotedName(mailsFolderIn(to))));
    for (const QString& name : storeFilesIn(from)) {
        const QString target = to + QLatin1Char('/') + name;
        if (!QFile::copy(from + QLatin1Char('/') + name, target))
            return undo(QStringLiteral("%1 ließ sich nicht kopieren.").arg(quotedName(name)));
        copied << name;
        if (!QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            return undo(QStringLiteral("Die Zugriffsrechte von %1 ließen sich nicht setzen.").arg(quotedName(name)));
    }
    return true;
}

} // namespace

ProgramFolderChoice chooseProgramFolder(const QString& executableFolder, const QString& perUserFolder)
{
    if (!isSystemFolder(executableFolder) && canWriteIn(executableFolder))
        return {executableFolder, {}, {}, {}};
    if (!QFileInfo(perUserFolder).isDir()) {
        if (!QDir().mkpath(perUserFolder))
            return {{}, {}, QStringLiteral("Der Datenordner „%1“ ließ sich nicht anlegen.").arg(perUserFolder), {}};
        QFile::setPermissions(perUserFolder, OwnerOnlyFolder);
    }
    return {perUserFolder, {}, {}, holdsStore(executableFolder) ? executableFolder : QString()};
}

bool takeOverStore(ProgramFolderChoice& choice)
{
    // Another start may have copied it while this one waited for the lock.
    if (choice.copyFrom.isEmpty() || holdsStore(choice.folder))
        return true;
    QString reason;
    if (!copyStore(choice.copyFrom, choice.folder, &reason)) {
        choice.error = QStringLiteral("Der Programmordner „%1“ enthält Daten von ZUB, ist aber nicht beschreibbar, und "
                                      "die Daten ließen sich nicht nach „%2“ übernehmen. %3")
                           .arg(choice.copyFrom, choice.folder, reason);
        return false;
    }
    choice.notice = QStringLiteral("Der Programmordner „%1“ ist nicht beschreibbar. Die Daten von ZUB wurden nach „%2“ "
                                   "kopiert; ZUB arbeitet ab jetzt dort.")
                        .arg(choice.copyFrom, choice.folder);
    return true;
}

} // namespace kadmel
