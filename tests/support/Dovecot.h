#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>

namespace kadmel::test {

// A real IMAP server (Dovecot) on 127.0.0.1 with a private configuration and one user, "kadmel" with the
// password "geheim", whose Maildir lies in a temporary folder. TLS is required: STARTTLS on starttlsPort(),
// TLS from the first byte on tlsPort(), the certificate for "localhost" from a throw-away authority.
class Dovecot
{
public:
    // Chooses the ports, makes the certificate and writes the configuration; nothing listens before start().
    Dovecot();
    ~Dovecot();

    bool start(); // false: the server did not come up, or no certificate was made
    void stop();  // ends the server this object started, by its process id

    quint16 tlsPort() const { return m_tlsPort; }
    quint16 starttlsPort() const { return m_starttlsPort; }
    QList<QSslCertificate> caCertificates() const { return m_ca; }

    // Puts a message into the inbox as a mail delivery would: a file in new/.
    void deliver(const QByteArray& message);
    // Makes a folder below the inbox ("Name" is "Maildir/.Name").
    void makeFolder(const QString& folder);
    // Every message in the Maildir: its folder and unique name (new/ and cur/ alike, flags aside) to its bytes;
    // asFiled: its file's path below the Maildir as it stands, flags and all.
    QMap<QString, QByteArray> messages(bool asFiled = false) const;

private:
    QString maildir(const QString& folder) const;

    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_tlsPort = 0, m_starttlsPort = 0;
    QList<QSslCertificate> m_ca;
    int m_delivered = 0;
};

} // namespace kadmel::test
