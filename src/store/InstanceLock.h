#pragma once

#include <QLockFile>
#include <QString>

namespace kadmel {

// Keeps a second instance off the same program folder: the lock file "kadmel.lock" there (0600) is held
// for the life of this object. A lock file that no process holds is stale and taken over, whatever it names.
class InstanceLock
{
public:
    explicit InstanceLock(const QString& programFolder);

    // False when another live instance holds the folder, or when the lock file cannot be written at all;
    // errorString() then tells which (empty: held by another instance).
    bool tryLock();
    bool isLocked() const { return m_lock.isLocked(); }
    void unlock();
    // The process of this host that the lock file names (the running instance when tryLock() found the
    // folder held), or 0.
    qint64 namedProcess() const;
    // Whether the lock file names the service (kadmel-dienst) rather than the window: the lock file holds the
    // name of the holder's executable.
    bool heldByService() const;
    // "(kadmel-dienst, Prozess 4711)": the holder for a German message, its process where this host knows it.
    QString holderText() const;
    // German, for the user: why the lock file could not be written.
    const QString& errorString() const { return m_error; }

    static constexpr char ServiceProgram[] = "kadmel-dienst";

private:
    bool failed();

    QString m_path;
    QLockFile m_lock;
    QString m_error;
};

} // namespace kadmel
