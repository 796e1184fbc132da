#include "engine/Dispatcher.h"
#include "smtp/Base64.h"
#include "store/EncryptionSetting.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/RecordingRelay.h"
#include "support/RecordingView.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"

#include <QDir>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// What stands where kadmel.ini belongs.
enum class Place
{
    Nothing,
    File,
    Folder,
    Fifo,
    DanglingLink,
    HugeFile,
};

} // namespace

Q_DECLARE_METATYPE(Place)
Q_DECLARE_METATYPE(std::optional<kadmel::Encryption>)

class TestTlsSetting : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void savedValuesStayOwnerOnly()
    {
        QTemporaryDir dir;
        const QString path = encryptionFilePathIn(dir.path());
        for (const Encryption value : {Encryption::SslTls, Encryption::StartTls, Encryption::Keine}) {
            QVERIFY(saveEncryption(dir.path(), value));
            QCOMPARE(loadEncryption(dir.path()), value);
            QVERIFY(ownerOnly(path));
        }

        // A file someone made readable for all is owner-only after the next save; its other keys stay.
        writeBytes(path, "[Fenster]\nBreite=640\n[SMTP]\nVerschluesselung=STARTTLS\n");
        QVERIFY(
            QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        QVERIFY(saveEncryption(dir.path(), Encryption::SslTls));
        QVERIFY(ownerOnly(path));
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("Fenster/Breite")).toInt(), 640);

        // A folder where the file belongs: saving reports why.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        QString error;
        QVERIFY(!saveEncryption(dir.path(), Encryption::StartTls, &error));
        QVERIFY2(error.contains(QStringLiteral("„kadmel.ini“")), qPrintable(error));
    }

    // Each way kadmel.ini can stand, through the dispatcher's start and a resend with AUTH LOGIN, past a relay
    // that records every byte: only a missing file or key means the clear; what cannot be read sends nothing.
    void everyChoiceOnTheWire_data()
    {
        QTest::addColumn<Place>("place");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<std::optional<Encryption>>("expected"); // nothing: the start and the send are refused
        const std::optional<Encryption> refused;
        QTest::newRow("no file") << Place::Nothing << QByteArray() << std::optional(Encryption::Keine);
        QTest::newRow("the key only in another section")
            << Place::File << QByteArray("[Fenster]\nVerschluesselung=SSL/TLS\n") << std::optional(Encryption::Keine);
        QTest::newRow("starttls in lower case")
            << Place::File << QByteArray("[SMTP]\nVerschluesselung=starttls\n") << std::optional(Encryption::StartTls);
        QTest::newRow("\"STARTTLS \" with a blank")
            << Place::File << QByteArray("[SMTP]\nVerschluesselung=\"STARTTLS \"\n")
            << std::optional(Encryption::StartTls);
        QTest::newRow("key and section in other case")
            << Place::File << QByteArray("[smtp]\nVERSCHLUESSELUNG= ssl/tls\n") << std::optional(Encryption::SslTls);
        QTest::newRow("unknown value") << Place::File << QByteArray("[SMTP]\nVerschluesselung=TLS\n") << refused;
        QTest::newRow("empty value") << Place::File << QByteArray("[SMTP]\nVerschluesselung=\n") << refused;
        QTest::newRow("two values") << Place::File << QByteArray("[SMTP]\nVerschluesselung=STARTTLS, SSL/TLS\n")
                                    << refused;
        QTest::newRow("a folder") << Place::Folder << QByteArray() << refused;
        QTest::newRow("a FIFO") << Place::Fifo << QByteArray() << refused;
        QTest::newRow("a link to nowhere") << Place::DanglingLink << QByteArray() << refused;
        QTest::newRow("over 1 MiB") << Place::HugeFile << QByteArray() << refused;
    }
    void everyChoiceOnTheWire()
    {
        QFETCH(Place, place);
        QFETCH(QByteArray, ini);
        QFETCH(std::optional<Encryption>, expected);
        QTemporaryDir dir;
        const QString path = encryptionFilePathIn(dir.path());
        if (place == Place::File)
            writeBytes(path, ini);
        else if (place == Place::Folder)
            QVERIFY(QDir().mkdir(path));
        else if (place == Place::Fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (place == Place::DanglingLink)
            QVERIFY(QFile::link(dir.path() + QStringLiteral("/nowhere"), path));
        else if (place == Place::HugeFile)
            writeBytes(path, "[SMTP]\nVerschluesselung=STARTTLS\n" + QByteArray(1 << 20, ';'));

        std::unique_ptr<SmtpSink> sink;
        if (expected) {
            const SinkTls tls = *expected == Encryption::Keine      ? SinkTls::None
                                : *expected == Encryption::StartTls ? SinkTls::StartTls
                                                                    : SinkTls::Implicit;
            sink = std::make_unique<SmtpSink>(SinkOptions{"user", "secret", tls, "localhost"});
            QVERIFY2(sink->isRunning(), qPrintable(sink->errorString()));
        }
        RecordingRelay relay(sink ? sink->port() : ScriptedSmtpServer::unusedPort());
        QSignalSpy closed(&relay, &RecordingRelay::clientDisconnected);
        Store store(dir.path());
        store.loadAtStartup();
        store.settings() = localSettings(dir.path(), relay.port());
        store.settings().SmtpServer = "localhost";
        store.settings().UseSpa = 2;
        store.tables().folder(FailedFolder).append(*store.tables().createMail(mailWith("Betreff", "ERRMessage4")));
        store.tables().mail(1).From = "von@example.com";
        store.tables().mail(1).To = "an@example.com";

        EngineTimings timings;
        timings.pollMs = 60000;
        timings.smtp.conversationMs = 10000;
        if (sink)
            timings.smtp.extraCaCertificates = sink->caCertificates();
        RecordingView view;
        Dispatcher dispatcher(store, view, timings);
        QCOMPARE(dispatcher.StartProcessing(), expected ? StartCheck::Ok : StartCheck::UnusableEncryption);
        QSignalSpy done(&dispatcher, &Dispatcher::resendFinished);
        QCOMPARE(dispatcher.resend(FailedFolder, 1), Dispatcher::Answer::Started);
        QVERIFY(done.wait(15000));
        const QByteArray status = store.tables().mail(1).Status;
        if (!expected) {
            QVERIFY2(view.messages.first().contains("kadmel.ini"), view.messages.first().constData());
            QCOMPARE(status, QByteArray("ERRMessage8"));
            QCOMPARE(relay.fromClient(), QByteArray());
            return;
        }
        QCOMPARE(status, QByteArray("MSGSENT"));
        QCOMPARE(sink->messages().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(closed.size(), 1, 3000);
        const QByteArray wire = relay.fromClient();
        for (const QByteArray& clear : {QByteArray("AUTH LOGIN"), Encode("secret"), QByteArray("MAIL FROM")})
            QCOMPARE(wire.contains(clear), *expected == Encryption::Keine);
    }
};

QTEST_GUILESS_MAIN(TestTlsSetting)
#include "tst_tls_setting.moc"
