#pragma once

#include <QFile>
#include <QTest>

// Plain file access for the store tests: no QSaveFile, no sync, so fixtures are quick to lay out.
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

// Neither the group nor others may read a store file (QFile also reports the effective user's bits).
inline bool ownerOnly(const QString& path)
{
    constexpr auto userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    return (QFile::permissions(path) & ~userBits) == (QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace kadmel::test
