#include "store/FileAccess.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#endif

namespace kadmel {
namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

enum class Opened
{
    Yes,
    Missing,
    NotRegular,
    Failed
};

// Opens a store file for reading. Neither a link nor a FIFO is followed or waited for, and a file that
// others may read becomes owner-only: every store file is private, however it was left.
Opened openRegular(QFile& file, const QString& path)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Opened::Missing : errno == ELOOP ? Opened::NotRegular : Opened::Failed;
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return Opened::NotRegular;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        ::fchmod(fd, S_IRUSR | S_IWUSR);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Opened::Failed;
    }
    return Opened::Yes;
#else
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Opened::Missing;
    if (info.isSymLink() || !info.isFile())
        return Opened::NotRegular;
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? Opened::Yes : Opened::Failed;
#endif
}

QString notRegular(const QString& path)
{
    return QStringLiteral("%1 ist keine gewöhnliche Datei (eine Verknüpfung, ein Ordner oder ein Gerät).")
        .arg(quotedName(path));
}

bool syncToDisk(QFile& file)
{
#ifdef Q_OS_UNIX
    return ::fsync(file.handle()) == 0;
#elif defined(Q_OS_WIN)
    return ::_commit(file.handle()) == 0;
#else
    return true;
#endif
}

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

QString systemReason(int code)
{
    switch (code) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Keine Berechtigung.");
    case ENOSPC:
    case EDQUOT:
        return reasonOf(QFileDevice::ResourceError);
    case EROFS:
        return QStringLiteral("Der Datenträger ist schreibgeschützt.");
    case ENOENT:
        return QStringLiteral("Der Ordner ist nicht vorhanden.");
    case ENOTDIR:
        return QStringLiteral("Im Pfad steht kein Ordner.");
    case ENAMETOOLONG:
        return QStringLiteral("Der Dateiname ist zu lang.");
    case EINVAL: // a name with characters this file system refuses
        return QStringLiteral("Der Datenträger nimmt diesen Dateinamen nicht an.");
    default:
        return QStringLiteral("Systemfehler %1.").arg(code);
    }
}

namespace {

#ifdef Q_OS_UNIX
// Gives the temporary file `from` the name `to` unless that name exists: 0, or the errno.
int placeWithoutReplacing(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS) // a file system without it (some network shares) takes a hard link
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}
#endif

} // namespace

QString quotedName(const QString& path)
{
    return QStringLiteral("„%1“").arg(QFileInfo(path).fileName());
}

ReadOutcome readWholeFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString* error)
{
    QFile file;
    switch (openRegular(file, path)) {
    case Opened::Yes:
        break;
    case Opened::Missing:
        return ReadOutcome::Missing;
    case Opened::NotRegular:
        report(error, notRegular(path));
        return ReadOutcome::Failed;
    case Opened::Failed:
        report(error,
               QStringLiteral("%1 ließ sich nicht lesen: %2").arg(quotedName(path), reasonOf(QFileDevice::OpenError)));
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

namespace {

QFileDevice::FileError writeError(const QFile& file)
{
    return file.error() != QFileDevice::NoError ? file.error() : QFileDevice::WriteError;
}

// The atomic owner-only write behind both writeWholeFile: `fill` writes the new bytes and gives the
// first error.
bool replaceFile(const QString& path, const std::function<QFileDevice::FileError(QFile&)>& fill, QString* error,
                 FileSync sync)
{
    const auto failed = [&](const QString& reason) {
        return report(error, QStringLiteral("%1 konnte nicht gespeichert werden. %2").arg(quotedName(path), reason));
    };
    const QFileInfo target(path);
    // A device or folder in the file's place is never replaced; a link is, by the rename below.
    if (!target.isSymLink() && target.exists() && !target.isFile())
        return failed(QStringLiteral("An ihrer Stelle steht keine gewöhnliche Datei."));
    // QSaveFile would write to a link's target. The new file is made beside the old name instead
    // (owner-only from its creation) and renamed over it, which replaces whatever the name was.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return failed(reasonOf(file.error()));
    if (const QFileDevice::FileError filled = fill(file); filled != QFileDevice::NoError || !file.flush())
        return failed(reasonOf(filled != QFileDevice::NoError ? filled : file.error()));
    if (sync != FileSync::Skipped && !syncToDisk(file))
        return failed(reasonOf(errno == ENOSPC ? QFileDevice::ResourceError : QFileDevice::WriteError));
    std::error_code renamed;
    std::filesystem::rename(QFileInfo(file.fileName()).filesystemAbsoluteFilePath(),
                            target.filesystemAbsoluteFilePath(), renamed);
    if (renamed)
        return failed(reasonOf(QFileDevice::RenameError));
    file.setAutoRemove(false);
    return sync != FileSync::Durable || syncFolder(target.absolutePath(), error);
}

} // namespace

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* error, FileSync sync)
{
    return replaceFile(
        path,
        [&bytes](QFile& file) { return file.write(bytes) == bytes.size() ? QFileDevice::NoError : writeError(file); },
        error, sync);
}

bool writeWholeFile(const QString& path, QIODevice& source, QString* error, FileSync sync)
{
    return replaceFile(
        path,
        [&source](QFile& file) {
            while (!source.atEnd()) {
                const QByteArray chunk = source.read(1 << 20);
                if (chunk.isEmpty())
                    return QFileDevice::ReadError;
                if (file.write(chunk) != chunk.size())
                    return writeError(file);
            }
            return QFileDevice::NoError;
        },
        error, sync);
}

bool writeNamedFile(const QByteArray& folder, const QByteArray& name, const QByteArray& bytes, int mode, QString* error)
{
    const QString shown = QFile::decodeName(folder + '/' + name);
    const auto failed = [&](int code) {
        return report(error, QStringLiteral("%1: %2").arg(shown, systemReason(code)));
    };
#ifdef Q_OS_UNIX
    QByteArray temporary = folder + "/.kadmel-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return failed(errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    int code = done == bytes.size() ? 0 : errno ? errno : EIO;
    if (!code && (::fchmod(fd, mode_t(mode)) != 0 || ::fsync(fd) != 0))
        code = errno;
    ::close(fd);
    if (!code && ::rename(temporary.constData(), (folder + '/' + name).constData()) != 0)
        code = errno;
    if (code) {
        ::unlink(temporary.constData());
        return failed(code);
    }
    return true;
#else
    Q_UNUSED(bytes);
    Q_UNUSED(mode);
    return failed(ENOSYS);
#endif
}

bool readSideFile(const QString& path, qint64 maxBytes, const std::function<bool(const QByteArray&)>& decodes,
                  QString* error)
{
    QByteArray bytes;
    QString reason;
    switch (readWholeFile(path, maxBytes, bytes, &reason)) {
    case ReadOutcome::Missing:
        return true;
    case ReadOutcome::Read:
        if (decodes(bytes))
            return true;
        reason = QStringLiteral("%1 ist beschädigt und wird verworfen.").arg(quotedName(path));
        break;
    case ReadOutcome::Failed:
        break;
    }
    // The next save replaces the file (or removes it when it has nothing to hold): its bytes stay beside it.
    QString kept;
    if (keepAsBad(path, &kept))
        kept = QStringLiteral("Die Datei bleibt als %1 erhalten.").arg(quotedName(path + QStringLiteral(".bad")));
    return report(error, reason + QLatin1Char(' ') + kept);
}

bool syncFolder(const QString& folder, QString* error)
{
    // A rename or a new name is on the disk only once its folder is: without this a power loss can bring
    // back the old file after a save was reported done.
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced)
        return report(error, QStringLiteral("Der Ordner %1 ließ sich nicht auf den Datenträger schreiben; die neuen "
                                            "Fassungen stehen an ihrem Platz, sind aber nach einem Stromausfall "
                                            "womöglich verloren.")
                                 .arg(quotedName(folder)));
#else
    Q_UNUSED(folder);
    Q_UNUSED(error);
#endif
    return true;
}

std::optional<QString> writeNewFile(const QString& folder, const QString& stem, const QString& suffix,
                                    const QByteArray& bytes, QString* error)
{
    const auto failed = [&](const QString& reason) {
        report(error, QStringLiteral("In %1 ließ sich keine Datei anlegen. %2").arg(quotedName(folder), reason));
        return std::nullopt;
    };
#ifdef Q_OS_UNIX
    QTemporaryFile file(folder + QStringLiteral("/.kadmel.XXXXXX"));
    if (!file.open())
        return failed(reasonOf(file.error()));
    if (file.write(bytes) != bytes.size() || !file.flush())
        return failed(reasonOf(file.error()));
    if (!syncToDisk(file))
        return failed(systemReason(errno));
    const QByteArray temporary = QFile::encodeName(file.fileName());
    for (int n = 1; n < 1000; ++n) {
        const QString name = stem + (n > 1 ? QStringLiteral(" (%1)").arg(n) : QString()) + suffix;
        const QString path = folder + QLatin1Char('/') + name;
        const int placed = placeWithoutReplacing(temporary, QFile::encodeName(path));
        if (placed == 0) {
            file.setAutoRemove(false);
            if (!syncFolder(folder, error))
                return std::nullopt;
            return name;
        }
        if (placed != EEXIST)
            return failed(systemReason(placed));
        QByteArray there;
        if (readWholeFile(path, bytes.size(), there, nullptr) == ReadOutcome::Read && there == bytes)
            return name;
    }
    return failed(QStringLiteral("Alle Namen für „%1“ sind vergeben.").arg(stem));
#else
    Q_UNUSED(stem);
    Q_UNUSED(suffix);
    Q_UNUSED(bytes);
    return failed(QStringLiteral("Auf diesem System nicht möglich."));
#endif
}

bool makeOwnFolder(const QString& path, QString* error)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        return report(error,
                      QStringLiteral("%1 ist kein Ordner (eine Verknüpfung oder eine Datei).").arg(quotedName(path)));
    if (info.exists())
        return true;
#ifdef Q_OS_UNIX
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return report(
            error,
            QStringLiteral("Der Ordner %1 ließ sich nicht anlegen. %2").arg(quotedName(path), systemReason(errno)));
#endif
    return QFileInfo(path).isDir() ||
           report(error, QStringLiteral("Der Ordner %1 ließ sich nicht anlegen.").arg(quotedName(path)));
}

bool removeFile(const QString& path, QString* error)
{
    // The name itself goes, even when it is a link to nowhere.
    if (QFile::remove(path))
        return true;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
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
    // A copy, so the damaged file itself stays until a save replaces it. Only a regular file is copied:
    // a link's target or a FIFO is none of the store's business.
    QFile source;
    const Opened opened = openRegular(source, path);
    const QString bad = path + QStringLiteral(".bad");
    QFile copy(bad);
    const auto failed = [&] {
        if (copy.isOpen())
            copy.remove();
        return report(error,
                      QStringLiteral("%1 ließ sich nicht als %2 sichern.").arg(quotedName(path), quotedName(bad)));
    };
    if (opened != Opened::Yes || !removeFile(bad, error))
        return failed();
    if (!copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
        return failed();
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(1 << 20);
        if (chunk.isEmpty() || copy.write(chunk) != chunk.size())
            return failed();
    }
    // The copy is what allows the damaged file to be replaced: it must really be there.
    if (!copy.flush() || !syncToDisk(copy) || !syncFolder(QFileInfo(bad).absolutePath(), nullptr))
        return failed();
    return true;
}

} // namespace kadmel
