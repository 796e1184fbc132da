#pragma once

#include "store/Store.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// File access and a saved store for the store tests: plain writes (no QSaveFile, no sync), so fixtures are quick.
namespace kadmel::test {

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::Truncate)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | mode));
    file.write(bytes);
}

// Every file below the folder with its bytes, to show that nothing on disk changed.
inline QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        files.insert(path, fileBytes(path));
    }
    return files;
}

// Neither the group nor others may read a store file (QFile also reports the effective user's bits).
inline bool ownerOnly(const QString& path)
{
    constexpr auto userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    return (QFile::permissions(path) & ~userBits) == (QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

inline MailRecord mailWith(const QByteArray& subject, const QByteArray& status)
{
    MailRecord record;
    record.Log.reset();
    record.Log.appendSent("QUIT");
    record.Subject = subject;
    record.Status = status;
    return record;
}

// Runs `work` in a child process as the user nobody (65534, no groups): its exit code, 99 when it could not switch.
inline int asNobody(const std::function<int()>& work)
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 &&
                        ::setresuid(65534, 65534, 65534) == 0
                    ? work()
                    : 99);
    int status = -1;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A saved store: mail 1 sent, mail 2 failed, mail 3 sent then moved to the deleted folder.
inline void writeStore(const QString& folder)
{
    Store store(folder);
    QVERIFY(QDir().mkpath(store.mailsFolder()));
    store.settings().SmtpServer = "mx.example";
    for (const auto& [subject, status, inFolder] :
         {std::tuple{"one", "MSGSENT", SentFolder}, std::tuple{"two", "ERRMessage3", FailedFolder},
          std::tuple{"three", "MSGSENT", DeletedFolder}})
        store.tables().folder(inFolder).append(*store.tables().createMail(mailWith(subject, status)));
    QVERIFY(store.SaveAll());
}

} // namespace kadmel::test
