#include "engine/DeliveryAttempt.h"
#include "engine/SignInSecrets.h"
#include "keyring/KeyringSecretStore.h"
#include "store/CryptString.h"
#include "store/KadmelIni.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"
#include "ui/SignInBox.h"
#include "ui/UiTestSupport.h"

using namespace kadmel;
using namespace kadmel::test;

namespace {

// "bus": a GNOME Keyring runs, unlocked, on a private session bus; "none": there is no session bus.
QByteArray keyringMode()
{
    return qgetenv("KADMEL_TEST_KEYRING");
}

// A program folder signing in as an OAuth 2.0 service account, its client secret scrambled in kadmel.ini.
struct Folder
{
    QTemporaryDir dir;
    Store store{dir.path()};

    Folder()
    {
        store.loadAtStartup();
        store.settings() = localSettings(dir.path(), 587);
        KadmelIniChanges ini;
        ini.encryption = Encryption::StartTls;
        AuthSetting& auth = ini.signIn.emplace();
        auth.method = AuthMethod::OAuth2Dienst;
        auth.tokenUrl = "https://login.example/token";
        auth.clientId = "kadmel";
        auth.clientSecret = "Geheimnis-1";
        store.kadmelIni().write(ini, nullptr);
    }
    QByteArray iniBytes() const { return fileBytes(iniFilePathIn(dir.path())); }
    AuthSetting signIn() { return *store.kadmelIni().read().signIn; }
};

// The settings dialog on the folder; `typed` replaces the client secret once the dialog has read it; OK.
QString confirmDialog(Folder& folder, SecretStore& keyring, const QString& typed = {}, QString* shown = nullptr)
{
    PromptRecorder prompts;
    Form5 dialog(folder.store, prompts, {}, nullptr, {}, &keyring);
    auto* secret = dialog.findChild<QLineEdit*>(QStringLiteral("ClientSecret"));
    auto* place = dialog.findChild<QLabel*>(QStringLiteral("SecretsPlace"));
    const auto unread = [&] { return place->text().contains(QStringLiteral("nicht lesbar")); };
    if (folder.signIn().inKeyring() &&
        (!QTest::qWaitFor([&] { return !secret->text().isEmpty() || unread(); }, 10000) || unread()))
        return QStringLiteral("nicht gelesen: ") + place->text();
    if (shown)
        *shown = secret->text();
    const QString placeText = place->text();
    if (!typed.isEmpty())
        secret->setText(typed);
    dialog.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    if (!QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000))
        return QStringLiteral("nicht bestätigt: ") + prompts.texts().join(QLatin1Char('\n'));
    return placeText;
}

// What the keyring holds under `name`, or its reason.
SecretAnswer readEntry(SecretStore& keyring, const QByteArray& name)
{
    QObject context;
    std::optional<SecretAnswer> got;
    keyring.read(QString::fromLatin1(name), &context, [&](const SecretAnswer& answer) { got = answer; });
    if (!QTest::qWaitFor([&] { return got.has_value(); }, 15000))
        return {false, {}, QStringLiteral("keine Antwort")};
    return *got;
}

} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // Secrets found in kadmel.ini move into the keyring at OK, and kadmel.ini names the entry only; the next
    // start reads them back; a secret typed anew replaces the entry, which the keyring no longer holds.
    void secretsMoveIntoTheKeyring()
    {
        if (keyringMode() != "bus")
            QSKIP("needs a Secret Service on a private session bus (tests/keyring/with_keyring.sh bus)");
        Folder folder;
        KeyringSecretStore keyring(10000);
        QCOMPARE(confirmDialog(folder, keyring), QStringLiteral("In kadmel.ini gespeichert (nur verschleiert)"));
        const AuthSetting moved = folder.signIn();
        QVERIFY(folder.iniBytes().contains("ClientGeheimnis=@Schluesselbund:" + moved.clientSecretKey + '\n'));
        QVERIFY(!folder.iniBytes().contains(CryptString("Geheimnis-1", 1)));

        KeyringSecretStore nextStart(10000);
        QString shown;
        QCOMPARE(confirmDialog(folder, nextStart, QStringLiteral("Geheimnis-2"), &shown),
                 QStringLiteral("Im Schlüsselbund gespeichert"));
        QCOMPARE(shown, QStringLiteral("Geheimnis-1"));
        const AuthSetting changed = folder.signIn();
        QVERIFY(changed.clientSecretKey != moved.clientSecretKey);
        QCOMPARE(readEntry(nextStart, changed.clientSecretKey).secret, QByteArray("Geheimnis-2"));
        QVERIFY(!readEntry(nextStart, moved.clientSecretKey).ok);
    }

    // Without a session bus the secrets stay scrambled in kadmel.ini, and the dialog says so. A keyring entry
    // that kadmel.ini names cannot be read: the dialog says why, and the mail fails with ERRMessage10 and that
    // reason at once.
    void withoutABusSecretsStayInTheFile()
    {
        if (keyringMode() != "none")
            QSKIP("runs without a session bus (tests/keyring/with_keyring.sh none)");
        Folder folder;
        KeyringSecretStore keyring(10000);
        QCOMPARE(confirmDialog(folder, keyring, QStringLiteral("Geheimnis-2")),
                 QStringLiteral("In kadmel.ini gespeichert (nur verschleiert)"));
        QVERIFY(folder.iniBytes().contains("ClientGeheimnis=" + CryptString("Geheimnis-2", 1) + '\n'));

        AuthSetting noted = folder.signIn();
        noted.clientSecretKey = "Client-Geheimnis-1";
        KadmelIniChanges changes;
        changes.signIn = noted;
        QVERIFY(folder.store.kadmelIni().write(changes, nullptr));
        QVERIFY(confirmDialog(folder, keyring)
                    .startsWith(QStringLiteral("nicht gelesen: Im Schlüsselbund gespeichert, doch nicht lesbar")));

        folder.store.tables().createMail(mailWith("Betreff", {}));
        RecordingView view;
        DeliveryAttempt attempt(folder.store, view, {}, &keyring);
        QSignalSpy finished(&attempt, &DeliveryAttempt::finished);
        attempt.start(1);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(1).toByteArray(), QByteArray("ERRMessage10"));
        QVERIFY(attempt.takeLog().Received.join().contains("Schl\xFC"
                                                           "sselbund"));
    }
};

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
