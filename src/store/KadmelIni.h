#pragma once

#include "store/AuthSetting.h"
#include "store/EncryptionSetting.h"
#include "store/FileAccess.h"
#include "store/FolderSetting.h"
#include "store/PaceSetting.h"
#include "store/SizeSetting.h"
#include "store/WindowPlacement.h"

#include <QObject>
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
    FolderSetting archiveFolder;          // [Archiv] Ordner; empty: no archive
    FolderSetting receiptFolder;          // [Quittung] Ordner; empty: no receipts
    bool deleteSentAttachments = false;   // [Anhaenge] NachVersandLoeschen: the producer's files, once sent
    // [Zustellung] MaximaleGroesseMB; 0: none
    qint32 maxMessageMB = DefaultMaxMessageMB;
    PaceLimits pace; // [Zustellung] MailsProMinute, MailsProTag
    // [Aufbewahrung] GesendeteTage: sent mails older than this many days are removed for good; 0 (missing,
    // empty or not a whole number from 1 to MostKeepSentDays): every one stays.
    qint32 keepSentDays = 0;
    qint32 mailsPerConnection = DefaultMailsPerConnection; // [Zustellung] MailsProVerbindung
    // [Fenster] EntfernenFragen: "Entfernen" in the sent and failed folders asks first, unless "0" ("nicht mehr
    // fragen").
    bool askBeforeRemoving = true;
};

inline constexpr qint32 MostKeepSentDays = 36500;

// Pacing is asked for (either limit set): a server's "too many mails" then pauses sending instead of failing it.
bool pacingConfigured(const KadmelIni& ini);

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
    std::optional<qint32> maxMessageMB = {};
    std::optional<WindowPlacement> placement = {};
    std::optional<FolderSetting> archiveFolder = {}; // empty: the key goes
    std::optional<FolderSetting> receiptFolder = {};
    std::optional<PaceLimits> pace = {};
    std::optional<bool> askBeforeRemoving = {};
};

// "kadmel.ini" in a program folder: read again only when the file changed (its size, time or inode), and
// written in one place, which changes only the keys of the parts it is given. The store holds the one that
// every part of the program shares.
class KadmelIniFile : public QObject
{
    Q_OBJECT
public:
    explicit KadmelIniFile(const QString& programFolder, QObject* parent = nullptr);

    const QString& path() const { return m_path; }
    // The model as the file stands now.
    const KadmelIni& read();
    // One atomic write of the changes; the file stays readable by its owner only. A link in the file's place
    // is replaced, what it points to neither read nor kept. On failure the file is unchanged and the reason
    // German.
    bool write(const KadmelIniChanges& changes, QString* error);
    // Puts the file back as `before` was read: its bytes, or no file.
    bool putBack(const KadmelIni& before, QString* error);

Q_SIGNALS:
    // A write or put-back through this file, or a change a read found on disk; from the event loop, once
    // for all that happened since, so that a save of several files is seen whole.
    void changed();

private:
    struct Stamp
    {
        bool exists = false;
        qint64 size = 0, mtimeNs = 0;
        quint64 inode = 0, device = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    Stamp stamp() const;
    // Takes the model of what now stands on disk and announces it; the next read() looks at the file again.
    void hold(const KadmelIni& ini);
    void announce();

    QString m_path;
    std::optional<Stamp> m_readAt; // nothing: never read
    KadmelIni m_ini;
    bool m_held = false;      // m_ini was read or written once
    bool m_announced = false; // changed() is on its way
};

} // namespace kadmel
