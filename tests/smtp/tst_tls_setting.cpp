#include "engine/Dispatcher.h"
#include "store/EncryptionSetting.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "support/ScriptedSmtpServer.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace kadmel;
using namespace kadmel::test;

class TestTlsSetting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // kadmel.ini also holds the window's place: a save keeps other keys, makes a file readable for all owner-only,
    // and a hand-written spelling of the key gives way to the new value. A folder in its place: saving says why.
    void saveKeepsOtherKeysAndOwnerOnly()
    {
        QTemporaryDir dir;
        const QString path = encryptionFilePathIn(dir.path());
        writeBytes(path, "[Fenster]\nBreite=640\n[smtp]\nverschluesselung=STARTTLS\n");
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions(0x6644)));
        QVERIFY(saveEncryption(dir.path(), Encryption::SslTls));
        QCOMPARE(loadEncryption(dir.path()), Encryption::SslTls);
        QVERIFY(ownerOnly(path));
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("Fenster/Breite")).toInt(), 640);

        QVERIFY(QFile::remove(path) && QDir().mkdir(path));
        QString error;
        QVERIFY(!saveEncryption(dir.path(), Encryption::StartTls, &error));
        QVERIFY2(error.contains(QStringLiteral("„kadmel.ini“")), qPrintable(error));
    }

    // Each way kadmel.ini can stand, through the dispatcher's start and a resend with AUTH LOGIN, against a
    // server that offers STARTTLS and records every byte: only a missing file or key means the clear, and
    // what cannot be read sends nothing at all.
    void everyChoiceOnTheWire_data()
    {
        QTest::addColumn<QByteArray>("ini");  // or what stands in its place: "(none)", "(folder)", "(FIFO)", "(big)"
        QTest::addColumn<QByteArray>("wire"); // all the client sends; "(refused)": the start is refused, no connection
        const QByteArray clear = "EHLO 127.0.0.1\r\nAUTH LOGIN\r\n", startTls = "EHLO 127.0.0.1\r\nSTARTTLS\r\n";
        const QByteArray refused = "(refused)";
        QTest::newRow("no file") << QByteArray("(none)") << clear;
        QTest::newRow("the key only in another section")
            << QByteArray("[Fenster]\nVerschluesselung=SSL/TLS\n") << clear;
        QTest::newRow("starttls, key and section in lower case")
            << QByteArray("[smtp]\nverschluesselung=starttls\n") << startTls;
        QTest::newRow("\"STARTTLS \" with a blank")
            << QByteArray("[SMTP]\nVerschluesselung=\"STARTTLS \"\n") << startTls;
        QTest::newRow("unknown value") << QByteArray("[SMTP]\nVerschluesselung=TLS\n") << refused;
        QTest::newRow("empty value") << QByteArray("[SMTP]\nVerschluesselung=\n") << refused;
        QTest::newRow("a folder") << QByteArray("(folder)") << refused;
        QTest::newRow("a FIFO") << QByteArray("(FIFO)") << refused;
        QTest::newRow("over 1 MiB") << QByteArray("(big)") << refused;
    }
    void everyChoiceOnTheWire()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArray, wire);
        QTemporaryDir dir;
        const QString path = encryptionFilePathIn(dir.path());
        if (ini == "(folder)")
            QVERIFY(QDir().mkdir(path));
        else if (ini == "(FIFO)")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (ini != "(none)")
            writeBytes(path, ini == "(big)" ? "[SMTP]\nVerschluesselung=STARTTLS\n" + QByteArray(1 << 20, ';') : ini);

        ScriptedSmtpServer server;
        server.reply("220 hi\r\n").expect("EHLO 127.0.0.1\r\n").reply("250-mail\r\n250 STARTTLS\r\n");
        Store store(dir.path());
        store.loadAtStartup();
        store.settings() = localSettings(dir.path(), server.port());
        store.settings().UseSpa = 2;
        store.tables().folder(FailedFolder).append(*store.tables().createMail(mailWith("Betreff", "ERRMessage4")));
        EngineTimings timings;
        timings.smtp.conversationMs = 300;
        RecordingView view;
        Dispatcher dispatcher(store, view, timings);
        const bool refused = wire == "(refused)";
        QCOMPARE(dispatcher.StartProcessing(), refused ? StartCheck::UnusableEncryption : StartCheck::Ok);
        QSignalSpy done(&dispatcher, &Dispatcher::resendFinished);
        QCOMPARE(dispatcher.resend(FailedFolder, 1), Dispatcher::Answer::Started);
        QVERIFY(done.wait(5000));
        QCOMPARE(server.received(), refused ? QByteArray() : wire);
        if (refused) {
            QCOMPARE(store.tables().mail(1).Status, QByteArray("ERRMessage8"));
            QVERIFY2(view.messages.first().contains("kadmel.ini"), view.messages.first().constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestTlsSetting)
#include "tst_tls_setting.moc"
