#include "SmtpSink.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kadmel::test {

namespace {

constexpr int StartTimeoutMs = 10000;

// The system interpreter has aiosmtpd from its Debian package; a PATH python3 may not.
QString pythonProgram()
{
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo::exists(system) ? system : QStringLiteral("python3");
}

QByteArray latin1(const QJsonValue& value)
{
    return value.toString().toLatin1();
}

} // namespace

SmtpSink::SmtpSink()
{
    start({});
}

SmtpSink::SmtpSink(const QByteArray& user, const QByteArray& password)
{
    start({QStringLiteral("--user"), QString::fromLatin1(user), QStringLiteral("--password"),
           QString::fromLatin1(password)});
}

SmtpSink::SmtpSink(const SinkOptions& options)
{
    QStringList arguments;
    if (!options.user.isEmpty() || !options.password.isEmpty())
        arguments << QStringLiteral("--user") << QString::fromLatin1(options.user) << QStringLiteral("--password")
                  << QString::fromLatin1(options.password);
    if (options.tls != SinkTls::None)
        arguments << QStringLiteral("--tls")
                  << (options.tls == SinkTls::StartTls ? QStringLiteral("starttls") : QStringLiteral("implicit"))
                  << QStringLiteral("--cert-host") << QString::fromLatin1(options.certificateHost);
    start(arguments);
    if (isRunning() && options.tls != SinkTls::None) {
        m_ca = QSslCertificate::fromPath(m_folder.filePath(QStringLiteral("ca.pem")));
        if (m_ca.isEmpty()) {
            m_error = QStringLiteral("the SMTP sink wrote no authority");
            m_port = 0;
        }
    }
}

void SmtpSink::start(const QStringList& extraArguments)
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(pythonProgram(), QStringList{QStringLiteral(KADMEL_TEST_SUPPORT_DIR "/smtp_sink.py"),
                                                 QStringLiteral("--dir"), m_folder.path()} +
                                         extraArguments);
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        m_error = m_process.errorString();
        return;
    }
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    bool ok = false;
    const int port = m_process.readLine().trimmed().toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
        m_error = QStringLiteral("the SMTP sink printed no port");
        return;
    }
    m_port = quint16(port);
}

SmtpSink::~SmtpSink()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Closing stdin is the polite stop; SIGTERM and then SIGKILL only if it does not listen.
    m_process.closeWriteChannel();
    if (m_process.waitForFinished(3000))
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(2000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QList<ReceivedMail> SmtpSink::messages() const
{
    QList<ReceivedMail> result;
    const QDir dir(m_folder.path());
    const QStringList envelopes = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString& name : envelopes) {
        QFile envelopeFile(dir.filePath(name));
        QFile contentFile(dir.filePath(QFileInfo(name).completeBaseName() + QStringLiteral(".eml")));
        if (!envelopeFile.open(QIODevice::ReadOnly) || !contentFile.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject envelope = QJsonDocument::fromJson(envelopeFile.readAll()).object();
        ReceivedMail mail;
        mail.mailFrom = latin1(envelope.value(QStringLiteral("mail_from")));
        for (const QJsonValue& rcpt : envelope.value(QStringLiteral("rcpt_tos")).toArray())
            mail.rcptTos.append(latin1(rcpt));
        mail.login = latin1(envelope.value(QStringLiteral("login")));
        mail.password = latin1(envelope.value(QStringLiteral("password")));
        mail.content = contentFile.readAll();
        result.append(mail);
    }
    return result;
}

} // namespace kadmel::test
