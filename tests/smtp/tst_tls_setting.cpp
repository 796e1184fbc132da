#include "store/EncryptionSetting.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;

namespace {

constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QFileDevice::Permissions rightsOf(const QString& path)
{
    // The user bits repeat the owner bits on Unix; only the owner, group and other bits count here.
    return QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestTlsSetting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void savedValuesComeBackOwnerOnly()
    {
        QTemporaryDir dir;
        const QString path = encryptionFilePathIn(dir.path());
        QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);

        for (const Encryption value :
             {Encryption::SslTls, Encryption::StartTls, Encryption::Keine, Encryption::SslTls}) {
            QString error;
            QVERIFY2(saveEncryption(dir.path(), value, &error), qPrintable(error));
            QCOMPARE(loadEncryption(dir.path()), value);
            QCOMPARE(rightsOf(path), OwnerOnly);
        }

        // A file someone made readable for all is owner-only after the next save; its other keys stay.
        writeFile(path, "[Fenster]\nBreite=640\n[SMTP]\nVerschluesselung=STARTTLS\n");
        QVERIFY(QFile::setPermissions(path, OwnerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QCOMPARE(loadEncryption(dir.path()), Encryption::StartTls);
        QVERIFY(saveEncryption(dir.path(), Encryption::SslTls));
        QCOMPARE(rightsOf(path), OwnerOnly);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("Fenster/Breite")).toInt(), 640);
        QCOMPARE(loadEncryption(dir.path()), Encryption::SslTls);
    }

    void unusableFilesMeanKeine()
    {
        {
            QTemporaryDir dir; // a folder where the file belongs: read as Keine, saving reports why
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("kadmel.ini")));
            QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);
            QString error;
            QVERIFY(!saveEncryption(dir.path(), Encryption::StartTls, &error));
            QVERIFY2(error.contains(QStringLiteral("„kadmel.ini“")), qPrintable(error));
        }
        {
            QTemporaryDir dir; // values that are not exactly one of the three texts
            for (const QByteArray& value : {QByteArray("ssl/tls"), QByteArray("2"), QByteArray("\xFF\xFE")}) {
                writeFile(encryptionFilePathIn(dir.path()), "[SMTP]\nVerschluesselung=" + value + "\n");
                QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);
            }
            writeFile(encryptionFilePathIn(dir.path()), QByteArray("\0\x01[SMTP\n=\n", 10));
            QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);
        }
    }
};

QTEST_GUILESS_MAIN(TestTlsSetting)
#include "tst_tls_setting.moc"
