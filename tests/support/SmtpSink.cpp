#include "SmtpSink.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace kadmel::test {

SmtpSink::SmtpSink(const SinkOptions& options)
{
    QByteArrayList bytes{"--cert-host", options.certificateHost, "--tls",
                         QByteArrayList{"none", "starttls", "implicit"}[int(options.tls)]};
    if (!options.token.isEmpty())
        bytes << "--user" << options.user << "--token" << options.token;
    else if (!options.user.isEmpty() || !options.password.isEmpty())
        bytes << "--user" << options.user << "--password" << options.password;
    if (options.plainOnly)
        bytes << "--plain-only";
    if (options.smtpUtf8)
        bytes << "--smtputf8";
    QStringList arguments{QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/smtp_sink.py"), QStringLiteral("--dir"),
                          m_folder.path()};
    for (const QByteArray& argument : bytes) // the sink takes them back as Latin-1 bytes
        arguments << QString::fromLatin1(argument);
    // The system interpreter has aiosmtpd from its Debian package; a python3 earlier in PATH may not.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
    const QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning)
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    const int port = m_process.readLine().trimmed().toInt();
    m_ca = QSslCertificate::fromPath(m_folder.filePath(QStringLiteral("ca.pem")));
    if (!m_folder.isValid() || port <= 0 || port > 65535)
        m_error = QStringLiteral("the SMTP sink printed no port: %1").arg(m_process.errorString());
    else if (options.tls != SinkTls::None && m_ca.isEmpty())
        m_error = QStringLiteral("the SMTP sink wrote no authority");
    else
        m_port = quint16(port);
    if (!m_error.isEmpty()) // a test goes on to fail where it needs the sink; this says why
        qWarning("%s", qPrintable(m_error));
}

SmtpSink::~SmtpSink()
{
    // Closing stdin is the polite stop; SIGKILL only if the sink does not listen.
    m_process.closeWriteChannel();
    if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QList<ReceivedMail> SmtpSink::messages() const
{
    QList<ReceivedMail> result;
    const QDir dir(m_folder.path());
    // A .json file appears only once its message is complete; its texts stand for Latin-1 bytes.
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name)), content(dir.filePath(name.chopped(4) + QStringLiteral("eml")));
        if (!file.open(QIODevice::ReadOnly) || !content.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject mail = QJsonDocument::fromJson(file.readAll()).object();
        const auto get = [&mail](const char* key) { return mail.value(QLatin1String(key)).toString().toLatin1(); };
        result.append({get("mail_from"), get("rcpt_tos").split('\n'), get("login"), get("password"), get("mechanism"),
                       content.readAll(), get("peer")});
    }
    return result;
}

} // namespace kadmel::test
