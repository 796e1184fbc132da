#include "Dovecot.h"

#include <QDir>
#include <QDirIterator>
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

const char* const Configuration = R"(base_dir = %1/run
state_dir = %1/run
log_path = %1/log
protocols = imap
listen = 127.0.0.1
ssl = required
ssl_cert = <%1/cert.pem
ssl_key = <%1/key.pem
first_valid_uid = 1
auth_mechanisms = plain
mail_location = maildir:~/Maildir:INDEX=~/index:CONTROL=~/control
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u %1/passwd
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=%1/home
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = %2
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = %3
    ssl = yes
  }
}
)";

} // namespace

Dovecot::Dovecot() : m_tlsPort(freePort()), m_starttlsPort(freePort())
{
    const QString dir = m_folder.path();
    // Dovecot's own users read the password file, and the mail user walks to its home.
    QFile::setPermissions(dir, QFile::permissions(dir) | QFile::ReadOther | QFile::ExeOther);
    QProcess::execute(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral("-c"),
                       QStringLiteral("import trustme, sys\nca = trustme.CA(); cert = ca.issue_cert('localhost')\n"
                                      "ca.cert_pem.write_to_path(sys.argv[1] + '/ca.pem')\n"
                                      "cert.private_key_pem.write_to_path(sys.argv[1] + '/key.pem')\n"
                                      "cert.cert_chain_pems[0].write_to_path(sys.argv[1] + '/cert.pem')\n"),
                       dir});
    m_ca = QSslCertificate::fromPath(dir + QStringLiteral("/ca.pem"));
    QDir(dir).mkpath(QStringLiteral("run"));
    makeFolder({});
    write(dir + QStringLiteral("/passwd"), "kadmel:{PLAIN}geheim\n");
    write(dir + QStringLiteral("/dovecot.conf"),
          QString::fromLatin1(Configuration).arg(dir).arg(m_starttlsPort).arg(m_tlsPort).toUtf8());
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
            return !m_ca.isEmpty();
        QTest::qWait(100);
    }
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
    for (const char* part : {"/..", "", "/cur", "/new", "/tmp"}) { // "/..": the home, for the index
        QDir().mkpath(maildir(folder) + QLatin1String(part));
        giveToMailUser(QDir::cleanPath(maildir(folder) + QLatin1String(part)));
    }
}

void Dovecot::deliver(const QByteArray& message)
{
    // Written under tmp/, then renamed into new/, as a delivery agent does.
    const QString name = QStringLiteral("/%1.kadmel%2.test").arg(QDateTime::currentSecsSinceEpoch()).arg(++m_delivered);
    write(maildir({}) + QStringLiteral("/tmp") + name, message);
    giveToMailUser(maildir({}) + QStringLiteral("/tmp") + name);
    QFile::rename(maildir({}) + QStringLiteral("/tmp") + name, maildir({}) + QStringLiteral("/new") + name);
}

QMap<QString, QByteArray> Dovecot::messages(bool asFiled) const
{
    QMap<QString, QByteArray> found;
    const QString root = maildir({});
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); // folders are ".Name"
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if ((path.contains(QLatin1String("/new/")) || path.contains(QLatin1String("/cur/"))) &&
            file.open(QIODevice::ReadOnly))
            found.insert(asFiled ? path.mid(root.size())
                                 : QFileInfo(it.fileInfo().path()).path().mid(root.size()) + u'/' +
                                       it.fileName().section(u':', 0, 0),
                         file.readAll());
    }
    return found;
}

} // namespace kadmel::test
