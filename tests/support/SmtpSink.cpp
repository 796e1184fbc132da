#include "SmtpSink.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kadmel::test {

SmtpSink::SmtpSink(const SinkOptions& options)
{
    QStringList arguments{QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/smtp_sink.py"), QStringLiteral("--dir"),
                          m_folder.path()};
    if (!options.user.isEmpty() || !options.password.isEmpty())
        arguments << QStringLiteral("--user") << QString::fromLatin1(options.user) << QStringLiteral("--password")
                  << QString::fromLatin1(options.password);
    if (options.tls != SinkTls::None)
        arguments << QStringLiteral("--tls")
                  << (options.tls == SinkTls::StartTls ? QStringLiteral("starttls") : QStringLiteral("implicit"))
                  << QStringLiteral("--cert-host") << QString::fromLatin1(options.certificateHost);
    // The system interpreter has aiosmtpd from its Debian package; a python3 earlier in PATH may not.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"), arguments);
    const QDeadlineTimer deadline(10000);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning)
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    const int port = m_process.readLine().trimmed().toInt();
    if (!m_folder.isValid() || port <= 0 || port > 65535) {
        m_error = QStringLiteral("the SMTP sink printed no port: %1").arg(m_process.errorString());
        return;
    }
    m_port = quint16(port);
    if (options.tls != SinkTls::None) {
        m_ca = QSslCertificate::fromPath(m_folder.filePath(QStringLiteral("ca.pem")));
        if (m_ca.isEmpty()) {
            m_error = QStringLiteral("the SMTP sink wrote no authority");
            m_port = 0;
        }
    }
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
    const auto latin1 = [](const QJsonValue& value) { return value.toString().toLatin1(); };
    QList<ReceivedMail> result;
    const QDir dir(m_folder.path());
    // A .json file appears only once its message is complete.
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        QFile envelopeFile(dir.filePath(name));
        QFile contentFile(dir.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".eml")));
        if (!envelopeFile.open(QIODevice::ReadOnly) || !contentFile.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject envelope = QJsonDocument::fromJson(envelopeFile.readAll()).object();
        ReceivedMail mail{latin1(envelope.value(QStringLiteral("mail_from"))),
                          {},
                          latin1(envelope.value(QStringLiteral("login"))),
                          latin1(envelope.value(QStringLiteral("password"))),
                          contentFile.readAll()};
        for (const QJsonValue& rcpt : envelope.value(QStringLiteral("rcpt_tos")).toArray())
            mail.rcptTos.append(latin1(rcpt));
        result.append(mail);
    }
    return result;
}

} // namespace kadmel::test
