#include "Dovecot.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

namespace kadmel::test {
namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// The mail user's files belong to "nobody": Dovecot never gives a mailbox to root.
void giveToMailUser(const QString& path)
{
    if (const passwd* nobody = ::getpwnam("nobody"))
        (void)::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid);
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

} // namespace

Dovecot::Dovecot() : m_tlsPort(freePort()), m_starttlsPort(freePort())
{
    const QString dir = m_folder.path();
    // Dovecot's own users read the password file and the mail user walks to its home.
    QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                                   QFile::ExeGroup);
    const int made =
        QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"),
                           QStringLiteral("import trustme, sys\n"
                                          "ca = trustme.CA(); cert = ca.issue_cert('localhost')\n"
                                          "ca.cert_pem.write_to_path(sys.argv[1] + '/ca.pem')\n"
                                          "cert.private_key_pem.write_to_path(sys.argv[1] + '/key.pem')\n"
                                          "cert.cert_chain_pems[0].write_to_path(sys.argv[1] + '/cert.pem')\n"),
                           dir});
    m_ca = QSslCertificate::fromPath(dir + QStringLiteral("/ca.pem"));
    if (made != 0 || m_ca.isEmpty())
        m_error = QStringLiteral("no certificate made");
    QDir(dir).mkpath(QStringLiteral("run"));
    QDir(dir).mkpath(QStringLiteral("home"));
    giveToMailUser(dir + QStringLiteral("/home"));
    makeFolder({});
    write(dir + QStringLiteral("/passwd"), "kadmel:{PLAIN}geheim\n");
    const QByteArray d = QFile::encodeName(dir);
    write(dir + QStringLiteral("/dovecot.conf"),
          "base_dir = " + d + "/run\nstate_dir = " + d + "/run\nlog_path = " + d +
              "/log\n"
              "protocols = imap\nlisten = 127.0.0.1\nssl = required\n"
              "ssl_cert = <" +
              d + "/cert.pem\nssl_key = <" + d +
              "/key.pem\n"
              "first_valid_uid = 1\nauth_mechanisms = plain\n"
              "mail_location = maildir:~/Maildir:INDEX=~/index:CONTROL=~/control\n"
              "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " +
              d +
              "/passwd\n}\n"
              "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" +
              d +
              "/home\n}\n"
              "service imap-login {\n"
              "  inet_listener imap {\n    address = 127.0.0.1\n    port = " +
              QByteArray::number(m_starttlsPort) +
              "\n  }\n"
              "  inet_listener imaps {\n    address = 127.0.0.1\n    port = " +
              QByteArray::number(m_tlsPort) + "\n    ssl = yes\n  }\n}\n");
}

Dovecot::~Dovecot()
{
    stop();
}

bool Dovecot::start()
{
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(QStringLiteral("/usr/sbin/dovecot"),
                    {QStringLiteral("-F"), QStringLiteral("-c"), m_folder.filePath(QStringLiteral("dovecot.conf"))});
    // Ready once both listeners take a connection; a bounded wait.
    for (int i = 0; i < 100 && m_process.state() != QProcess::NotRunning; ++i) {
        QTcpSocket tls, plain;
        tls.connectToHost(QHostAddress::LocalHost, m_tlsPort);
        plain.connectToHost(QHostAddress::LocalHost, m_starttlsPort);
        if (tls.waitForConnected(1000) && plain.waitForConnected(1000))
            return true;
        QTest::qWait(100);
    }
    m_error = QStringLiteral("Dovecot did not start: %1").arg(m_process.errorString());
    qWarning("%s", qPrintable(m_error));
    return false;
}

void Dovecot::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // the master ends its own children
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QString Dovecot::maildir(const QString& folder) const
{
    return m_folder.filePath(QStringLiteral("home/Maildir")) +
           (folder.isEmpty() ? QString() : QStringLiteral("/.") + folder);
}

void Dovecot::makeFolder(const QString& folder)
{
    for (const char* part : {"", "/cur", "/new", "/tmp"}) {
        QDir().mkpath(maildir(folder) + QLatin1String(part));
        giveToMailUser(maildir(folder) + QLatin1String(part));
    }
}

void Dovecot::deliver(const QByteArray& message, const QString& folder)
{
    const QString name =
        QStringLiteral("/new/%1.kadmel%2.test").arg(QDateTime::currentSecsSinceEpoch()).arg(++m_delivered);
    write(maildir(folder) + QStringLiteral("/tmp/x"), message);
    giveToMailUser(maildir(folder) + QStringLiteral("/tmp/x"));
    QFile::rename(maildir(folder) + QStringLiteral("/tmp/x"), maildir(folder) + name);
}

QMap<QString, QByteArray> Dovecot::messages() const
{
    QMap<QString, QByteArray> found;
    const QString root = maildir({});
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); // folders are ".Name"
    while (it.hasNext()) {
        const QString path = it.next();
        const QString folder = QFileInfo(QFileInfo(path).path()).path().mid(root.size());
        if (!path.contains(QLatin1String("/new/")) && !path.contains(QLatin1String("/cur/")))
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            found.insert(folder + u'/' + it.fileName().section(u':', 0, 0), file.readAll());
    }
    return found;
}

} // namespace kadmel::test
