#include "engine/DeliveryAttempt.h"
#include "engine/OAuthTokenSource.h"
#include "engine/SignInSecrets.h"
#include "keyring/KeyringSecretStore.h"
#include "store/CryptString.h"
#include "support/EngineBench.h"
#include "support/TokenEndpoint.h"
#include "ui/UiTestSupport.h"

using namespace kadmel;
using namespace kadmel::test;

namespace {

// A program folder with a browser sign-in whose client secret and refresh token are scrambled in kadmel.ini.
struct Folder : EngineBench
{
    KeyringSecretStore keyring{10000};
    KadmelIniChanges ini;

    explicit Folder(const QByteArray& tokenUrl) : EngineBench(587)
    {
        ini.encryption = Encryption::StartTls;
        ini.signIn = AuthSetting{
            AuthMethod::OAuth2Browser, tokenUrl, "https://login.example/a", "kadmel", "Geheimnis", {}, "rt-1"};
        store.kadmelIni().write(ini, nullptr);
    }
    AuthSetting signIn() { return *store.kadmelIni().read().signIn; }

    // Where the settings dialog says the secrets are, and the client secret it shows; then OK.
    QString placeShownAtOk()
    {
        PromptRecorder prompts;
        Form5 dialog(store, prompts, {}, nullptr, {}, &keyring);
        auto* place = dialog.findChild<QLabel*>(QStringLiteral("SecretsPlace"));
        auto* secret = dialog.findChild<QLineEdit*>(QStringLiteral("ClientSecret"));
        if (!QTest::qWaitFor([&] { return !secret->text().isEmpty(); }, 10000))
            return {};
        const QString shown = place->text() + QLatin1Char(' ') + secret->text();
        dialog.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
        return QTest::qWaitFor([&] { return dialog.result() == QDialog::Accepted; }, 15000) ? shown : QString();
    }
};

std::optional<AuthSetting> readBack(SecretStore& keyring, const AuthSetting& setting)
{
    const JobPtr<SecretsJob> read = readSecrets(&keyring, setting);
    QSignalSpy done(read.get(), &Job::finished);
    return done.wait(15000) ? read->setting() : std::nullopt;
}

} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // OK moves the secrets into the keyring, kadmel.ini names them, the next start reads them, a renewal loses none.
    void secretsLiveInTheKeyring()
    {
        if (qgetenv("KADMEL_TEST_KEYRING") != "bus")
            QSKIP("needs a Secret Service on a private session bus (tests/keyring/with_keyring.sh bus)");
        TokenEndpoint endpoint({TokenEndpoint::token("ya29", 3600, "rt-2")});
        Folder folder(endpoint.url());
        QCOMPARE(folder.placeShownAtOk(), QStringLiteral("In kadmel.ini gespeichert (nur verschleiert) Geheimnis"));
        const AuthSetting moved = folder.signIn();
        const QByteArray ini = fileBytes(folder.store.kadmelIni().path());
        QVERIFY(ini.contains("\nAktualisierungstoken=@Schluesselbund:" + moved.refreshTokenKey) &&
                !moved.clientSecretKey.isEmpty() && !ini.contains(CryptString("Geheimnis", 1)));

        KeyringSecretStore nextStart(10000);
        const std::optional<AuthSetting> read = readBack(nextStart, moved);
        QVERIFY(read && read->clientSecret == "Geheimnis" && read->refreshToken == "rt-1");
        OAuthTokenSource tokens(folder.store.kadmelIni(), 5000, &nextStart);
        const JobPtr<AccessTokenJob> token = tokens.request(*read);
        QSignalSpy ready(token.get(), &Job::finished);
        QVERIFY(ready.wait(10000) && !token->token().isEmpty());
        QCOMPARE(readBack(nextStart, folder.signIn())->refreshToken, QByteArray("rt-2"));
        QVERIFY(!readBack(nextStart, moved)); // the old entry is gone
    }

    // Without a bus the secrets stay in kadmel.ini; an entry it names fails the mail at once with ERRMessage10.
    void withoutABusSecretsStayInTheFile()
    {
        if (qgetenv("KADMEL_TEST_KEYRING") != "none")
            QSKIP("runs without a session bus (tests/keyring/with_keyring.sh none)");
        Folder folder("https://login.example/token");
        QCOMPARE(folder.placeShownAtOk(), QStringLiteral("In kadmel.ini gespeichert (nur verschleiert) Geheimnis"));
        QVERIFY(fileBytes(folder.store.kadmelIni().path()).contains("ClientGeheimnis=" + CryptString("Geheimnis", 1)));

        folder.ini.signIn->clientSecretKey = "Client-Geheimnis-1";
        folder.store.kadmelIni().write(folder.ini, nullptr);
        folder.store.tables().createMail(mailWith("Betreff", {}));
        DeliveryAttempt attempt(folder.store, folder.view, {}, &folder.keyring);
        QSignalSpy finished(&attempt, &DeliveryAttempt::finished);
        attempt.start(1);
        QVERIFY(finished.wait(5000));
        QVERIFY(finished.at(0).at(0).value<DeliveryOutcome>().code == ResultCode::SignInFailed);
        QVERIFY(attempt.takeLog().Received.join().contains(toAnsi(QStringLiteral("Schlüsselbund"))));
    }
};

QTEST_MAIN(TestKeyring)
#include "tst_keyring.moc"
