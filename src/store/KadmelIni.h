#pragma once

#include "store/AuthSetting.h"
#include "store/EncryptionSetting.h"
#include "store/FileAccess.h"
#include "store/WindowPlacement.h"

#include <QString>

#include <optional>

namespace kadmel {

// Everything "kadmel.ini" holds, read once, typed and checked. Each part fails closed alike: what cannot be
// read or understood is unset and says why, so nothing goes out weaker than configured.
struct KadmelIni
{
    ReadOutcome outcome = ReadOutcome::Missing;
    QByteArray bytes; // the file as read, to be put back

    std::optional<Encryption> encryption; // [SMTP] Verschluesselung
    QString encryptionProblem;            // German, when unset
    std::optional<AuthSetting> signIn;    // [Anmeldung]
    QString signInProblem;                // German, when unset
    bool retry = false;                   // [Zustellung] AutomatischWiederholen; off when unreadable
    WindowPlacement placement;            // [Fenster]
    QString archiveFolder;                // [Archiv] Ordner; empty: no archive
    QByteArray receiptFolder = {};        // [Quittung] Ordner: the file system's bytes; empty: no receipts
};

// The model of the file's bytes; pure, so it is checked and fuzzed without a file.
KadmelIni readKadmelIni(const QByteArray& bytes);
// The model when the file could not be read: every part unset with this reason.
KadmelIni unreadableKadmelIni(const QString& reason);

// The parts a save changes; an unset part keeps its keys as they stand.
struct KadmelIniChanges
{
    std::optional<Encryption> encryption = {};
    std::optional<AuthSetting> signIn = {};
    std::optional<bool> retry = {};
    std::optional<WindowPlacement> placement = {};
    std::optional<QString> archiveFolder = {};
    std::optional<QByteArray> receiptFolder = {}; // empty: the key goes
};

// "kadmel.ini" in a program folder: read again only when the file changed (its size, time or inode), and
// written in one place, which changes only the keys of the parts it is given.
class KadmelIniFile
{
public:
    explicit KadmelIniFile(const QString& programFolder);

    const QString& path() const { return m_path; }
    // The model as the file stands now.
    const KadmelIni& read();
    // One atomic write of the changes; the file stays readable by its owner only. A link in the file's place
    // is replaced, what it points to neither read nor kept. On failure the file is unchanged and the reason
    // German.
    bool write(const KadmelIniChanges& changes, QString* error);
    // Puts the file back as `before` was read: its bytes, or no file.
    bool putBack(const KadmelIni& before, QString* error);

private:
    struct Stamp
    {
        bool exists = false;
        qint64 size = 0, mtimeNs = 0;
        quint64 inode = 0, device = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    Stamp stamp() const;

    QString m_path;
    std::optional<Stamp> m_readAt; // nothing: never read
    KadmelIni m_ini;
};

} // namespace kadmel
