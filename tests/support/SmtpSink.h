#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>

namespace kadmel::test {

// One message as the sink received it.
struct ReceivedMail
{
    QByteArray mailFrom;
    QList<QByteArray> rcptTos;
    QByteArray login;     // AUTH LOGIN user name as decoded by the server; empty without AUTH
    QByteArray password;  // for XOAUTH2 the token
    QByteArray mechanism; // "LOGIN", "PLAIN", "XOAUTH2"; empty without AUTH
    QByteArray content;   // the DATA bytes up to (not including) the final ".\r\n"
    QByteArray peer;      // the client's port: one per connection

    // The single Base64 part after the header, decoded.
    QByteArray decodedBody() const
    {
        return QByteArray::fromBase64(content.mid(content.indexOf("\r\n\r\n") + 4).replace("\r\n", ""));
    }
};

enum class SinkTls
{
    None,
    StartTls, // offers STARTTLS and accepts no mail and no AUTH before it
    Implicit, // TLS from the first byte
};

struct SinkOptions
{
    QByteArray user; // with a password: AUTH LOGIN with exactly these bytes is required
    QByteArray password;
    SinkTls tls = SinkTls::None;
    QByteArray certificateHost = "localhost"; // the name the server's certificate is issued for
    QByteArray token = {};                    // AUTH XOAUTH2 for `user` with exactly this token is required
    bool plainOnly = false;                   // AUTH PLAIN offered, LOGIN not
    bool smtpUtf8 = false;                    // SMTPUTF8 offered
};

// A real SMTP server (aiosmtpd) on 127.0.0.1 for the lifetime of this object.
class SmtpSink
{
public:
    explicit SmtpSink(const SinkOptions& options = {});
    ~SmtpSink();

    bool isRunning() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString errorString() const { return m_error; }
    // The throw-away authority behind a TLS sink's certificate; empty without TLS.
    QList<QSslCertificate> caCertificates() const { return m_ca; }
    // Every message received so far, in order of arrival.
    QList<ReceivedMail> messages() const;

private:
    QTemporaryDir m_folder;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
    QList<QSslCertificate> m_ca;
};

} // namespace kadmel::test
