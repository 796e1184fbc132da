#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include <memory>

namespace kadmel {

struct ImapTimings
{
    int connectMs = 10000;      // wait for a server that neither takes nor refuses the connection
    int conversationMs = 60000; // each reply, and the caller's next step between two commands
    // Trusted besides the system's certificates; only tests bring their own authority.
    QList<QSslCertificate> extraCaCertificates = {};
};

// The mailbox's server and sign-in. The connection is always encrypted, TLS from the first byte or STARTTLS, and
// the certificate checked against host.
struct ImapServer
{
    QByteArray host;
    quint16 port = 993;
    bool tlsFromStart = true;
    QByteArray user; // Windows-1252, as the settings keep it
    QByteArray password;
    QByteArray accessToken = {}; // not empty: AUTHENTICATE XOAUTH2 with it instead of the password
};

// One connection to an IMAP server, driven by its replies: CAPABILITY, STARTTLS, the sign-in (XOAUTH2 with a
// token, else AUTHENTICATE PLAIN, else LOGIN), then INBOX opened (read-only unless asked to change it). The
// caller then asks one step at a time, each answered by one signal from the event loop; finished() ends it,
// once. A message is fetched up to MaxMessageBytes only, however large it is.
class ImapSession : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxMessageBytes = 4 * 1024 * 1024;

    explicit ImapSession(ImapTimings timings = {}, QObject* parent = nullptr);
    ~ImapSession() override;

    // Connects and opens INBOX; selected() or finished() follows. False while a session runs.
    bool open(const ImapServer& server, bool writable);
    // The UIDs above `after`, ascending: found().
    void search(quint32 after);
    // The message's first MaxMessageBytes, never marking it read: fetched().
    void fetch(quint32 uid);
    // Moves the message into `folder` (MOVE, else COPY and \Deleted): moved().
    void move(quint32 uid, const QString& folder);
    // LOGOUT, then finished() without a failure.
    void logout();
    // Cuts the connection at once; nothing more is emitted.
    void abort();
    // The last session ended because the server refused the sign-in: a token must not be offered again.
    bool signInRefused() const;

Q_SIGNALS:
    void selected(quint32 uidValidity, quint32 uidNext);
    void found(const QList<quint32>& uids);
    void fetched(quint32 uid, const QByteArray& message);
    void moved(quint32 uid, const QByteArray& refusal); // refusal empty: moved
    // failure: German (Windows-1252), empty after a LOGOUT.
    void finished(const QByteArray& failure);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace kadmel
