#include "app/ProgramFolder.h"

#include "store/FileAccess.h"
#include "store/FolderHandle.h"
#include "store/StorePaths.h"

#include <QByteArrayList>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <optional>

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

// The store's files of one kind in an open folder; regular files only: a link or a FIFO is not copied.
QByteArrayList namesOf(FolderHandle& folder, const StoreFileKind& kind)
{
    const auto isNamed = [&kind](const QByteArray& bytes) {
        const QString name = QFile::decodeName(bytes);
        return QFile::encodeName(name) == bytes && kind.isNamed(name);
    };
    QByteArrayList names;
    for (const FolderHandle::Entry& entry : folder.list(isNamed)) {
        if (entry.regular)
            names << entry.name;
    }
    return names;
}

// The program folder itself may be reached through links, as the store is; a link in a store folder's
// place is never followed.
FolderHandle openProgramFolder(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return FolderHandle(QFile::encodeName(canonical.isEmpty() ? folder : canonical));
}

// The folder of a kind's files: the program folder itself or one opened through it into `inner`.
FolderHandle& folderOf(FolderHandle& top, const StoreFileKind& kind, std::optional<FolderHandle>& inner)
{
    if (kind.folder.isEmpty())
        return top;
    return inner.emplace(top, QFile::encodeName(kind.folder));
}

bool holdsFiles(FolderHandle& top, const StoreFileKind& kind)
{
    std::optional<FolderHandle> inner;
    return !namesOf(folderOf(top, kind, inner), kind).isEmpty();
}

bool holdsStore(const QString& folder)
{
    FolderHandle top = openProgramFolder(folder);
    const QList<StoreFileKind> kinds = storeFileNames();
    return std::any_of(kinds.cbegin(), kinds.cend(), [&](const StoreFileKind& kind) { return holdsFiles(top, kind); });
}

// A copy cut short lacks the kind it takes last.
bool holdsCopiedStore(const QString& folder)
{
    FolderHandle top = openProgramFolder(folder);
    return holdsFiles(top, storeFileNames().constLast());
}

// Copies the store file by file, each owner-only from its first byte; on a failure what was copied goes again,
// so the next start tries anew.
bool copyStore(const QString& from, const QString& to, QString* error)
{
    QStringList copied, made;
    const auto undo = [&](const QString& reason) {
        for (const QString& path : std::as_const(copied))
            removeFile(path, nullptr);
        for (auto it = made.crbegin(); it != made.crend(); ++it)
            QDir().rmdir(*it);
        *error = reason;
        return false;
    };
    FolderHandle top = openProgramFolder(from);
    for (const StoreFileKind& kind : storeFileNames()) {
        std::optional<FolderHandle> inner;
        FolderHandle& folder = folderOf(top, kind, inner);
        const QString shown = quotedName(kind.folder.isEmpty() ? from : kind.folder);
        if (folder.state() == FolderHandle::State::Missing)
            continue;
        if (folder.state() == FolderHandle::State::Link)
            return undo(QStringLiteral("Der Ordner %1 ist eine Verknüpfung; ZUB folgt ihr nicht.").arg(shown));
        const QByteArrayList names = namesOf(folder, kind);
        if (folder.state() != FolderHandle::State::Open)
            return undo(
                QStringLiteral("Der Ordner %1 ließ sich nicht lesen: %2").arg(shown, systemReason(folder.error())));
        const QString into = kind.folder.isEmpty() ? to : to + QLatin1Char('/') + kind.folder;
        QString reason;
        if (!kind.folder.isEmpty()) {
            const bool existed = QFileInfo::exists(into);
            if (!makeOwnFolder(into, &reason))
                return undo(reason);
            if (!existed)
                made << into;
        }
        for (const QByteArray& name : names) {
            const QString target = into + QLatin1Char('/') + QFile::decodeName(name);
            if (!folder.copyTo(name, target, FileSync::FileOnly, &reason))
                return undo(reason);
            copied << target;
        }
        if (!syncFolder(into, &reason))
            return undo(reason);
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
    if (choice.copyFrom.isEmpty() || holdsCopiedStore(choice.folder))
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
