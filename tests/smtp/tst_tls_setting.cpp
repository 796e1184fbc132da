#include "store/EncryptionSetting.h"
#include "store/StoreFiles.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

class TestTlsSetting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void savedValuesAndUnusableFiles()
    {
        QTemporaryDir dir;
        const QString path = encryptionFilePathIn(dir.path());
        QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);
        for (const Encryption value : {Encryption::SslTls, Encryption::StartTls, Encryption::Keine}) {
            QVERIFY(saveEncryption(dir.path(), value));
            QCOMPARE(loadEncryption(dir.path()), value);
            QVERIFY(ownerOnly(path));
        }
        // Values that are not exactly one of the three texts, and a file of junk.
        for (const QByteArray& bytes :
             {QByteArray("[SMTP]\nVerschluesselung=ssl/tls\n"), QByteArray("[SMTP]\nVerschluesselung=2\n"),
              QByteArray("\0\x01[SMTP\n=\n", 10)}) {
            writeBytes(path, bytes);
            QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);
        }

        // A file someone made readable for all is owner-only after the next save; its other keys stay.
        writeBytes(path, "[Fenster]\nBreite=640\n[SMTP]\nVerschluesselung=STARTTLS\n");
        QVERIFY(
            QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QCOMPARE(loadEncryption(dir.path()), Encryption::StartTls);
        QVERIFY(saveEncryption(dir.path(), Encryption::SslTls));
        QVERIFY(ownerOnly(path));
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("Fenster/Breite")).toInt(), 640);

        // A folder where the file belongs: read as Keine, saving reports why.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        QCOMPARE(loadEncryption(dir.path()), Encryption::Keine);
        QString error;
        QVERIFY(!saveEncryption(dir.path(), Encryption::StartTls, &error));
        QVERIFY2(error.contains(QStringLiteral("„kadmel.ini“")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestTlsSetting)
#include "tst_tls_setting.moc"
