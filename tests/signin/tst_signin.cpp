#include "signin/BrowserSignIn.h"
#include "signin/DeviceSignIn.h"
#include "support/AuthorizationPage.h"
#include "support/IdleFlood.h"
#include "support/ScriptedSmtpServer.h"
#include "support/TokenEndpoint.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(TokenEndpoint::Answer)

namespace {

const TokenEndpoint::Answer DeviceCode{200,
                                       R"({"device_code":"Gm+Rh","user_code":"ABCD-EFGH","expires_in":40,"interval":1,)"
                                       R"("verification_uri":"https://microsoft.com/devicelogin"})"};

TokenEndpoint::Answer tokenError(const QByteArray& code)
{
    return {400, R"({"error":")" + code + "\"}"};
}

AuthSetting deviceSetting(const QByteArray& url)
{
    return {AuthMethod::OAuth2Device, url, url, "kadmel-app", "", "SMTP.Send offline_access", ""};
}

} // namespace

// The sign-in flows without a window, as a program in a terminal runs them.
class TestSignIn : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void browserSignIn_data();
    void browserSignIn();
    void deviceSignIn_data();
    void deviceSignIn();
    void droppedSignInAsksNoMore();
};

void TestSignIn::browserSignIn_data()
{
    QTest::addColumn<QByteArray>("back");
    QTest::addColumn<TokenEndpoint::Answer>("tokenAnswer");
    QTest::addColumn<QString>("said"); // in the reason; empty when signed in

    // The token answer at the one cap of every token request is read; a byte more is not.
    const QByteArray code = "code=4%2F0A+b%25c"; // Google's codes begin "4/"
    QTest::newRow("signed in") << code << TokenEndpoint::granted(TokenRequest::MaxAnswerBytes) << QString();
    QTest::newRow("signed in past a flood") << code << TokenEndpoint::granted() << QString();
    QTest::newRow("answer too long") << code << TokenEndpoint::granted(TokenRequest::MaxAnswerBytes + 1)
                                     << QStringLiteral("größer als 1 MiB");
    QTest::newRow("code refused") << code
                                  << TokenEndpoint::Answer{400, R"({"error":"invalid_grant",)"
                                                                R"("error_description":"AADSTS54005: Code eingelöst"})"}
                                  << QStringLiteral("AADSTS54005: Code eingelöst");
    QTest::newRow("token address redirects")
        << code << TokenEndpoint::Answer{307, {}} << QStringLiteral("leitet weiter");
    QTest::newRow("denied in the browser")
        << QByteArray("error=access_denied&error_description=AADSTS65004%3A+User+declined+to+consent")
        << TokenEndpoint::Answer{} << QStringLiteral("AADSTS65004: User declined to consent");
    QTest::newRow("wrong state") << QByteArray("code=4%2F0A&state=fremd") << TokenEndpoint::Answer{}
                                 << QStringLiteral("falscher „state“");
    QTest::newRow("refusal without a state")
        << QByteArray("error=access_denied&stateless") << TokenEndpoint::Answer{} << QStringLiteral("falscher „state“");
    QTest::newRow("no refresh token") << code << TokenEndpoint::token("at", 3599) << QStringLiteral("offline_access");
    QTest::newRow("back without a code") << QByteArray() << TokenEndpoint::Answer{} << QStringLiteral("keinen Code");
    QTest::newRow("not back in time") << QByteArray("never") << TokenEndpoint::Answer{}
                                      << QStringLiteral("nicht rechtzeitig");
}

// The sign-in against a local service whose authorisation page sends the browser straight back: the code is
// exchanged with the PKCE verifier of the challenge, and only a refresh token counts as signed in. A flood of
// idle connections is held a few at a time without spinning, and the browser's return still comes in.
void TestSignIn::browserSignIn()
{
    QFETCH(QByteArray, back);
    QFETCH(TokenEndpoint::Answer, tokenAnswer);
    QFETCH(QString, said);
    const bool flooded = QTest::currentDataTag() == QByteArray("signed in past a flood");
    AuthorizationPage page;
    page.back = back;
    TokenEndpoint endpoint({tokenAnswer});
    QNetworkAccessManager browser;
    // xdg-open started, but no browser came (a terminal server): the user's browser fetches the address by hand.
    BrowserSignIn signIn({AuthMethod::OAuth2Browser, endpoint.url(), page.url(), "kadmel-app", "", "", ""},
                         QStringLiteral("anna"), {},
                         {.browserLimit = back == "never" ? 300ms : 1min, .redirectIdle = 200ms});
    QSignalSpy done(&signIn, &Job::finished);
    QVERIFY(signIn.address().toEncoded().startsWith(page.url()));
    std::optional<IdleFlood> flood;
    if (flooded) {
        const QUrl redirect(
            QUrlQuery(signIn.address()).queryItemValue(QStringLiteral("redirect_uri"), QUrl::FullyDecoded));
        flood.emplace(QString::number(redirect.port()), 2000);
        QVERIFY2(flood->holding && flood->descriptorsGained() < 20,
                 qPrintable(QString::number(flood->descriptorsGained())));
    }
    if (back != "never")
        browser.get(QNetworkRequest(signIn.address()));
    QVERIFY(done.wait(10000));
    if (!said.isEmpty()) {
        QVERIFY2(signIn.error().contains(said) && signIn.refreshToken().isEmpty(), qPrintable(signIn.error()));
        return;
    }
    const QString verifier =
        QUrlQuery(QString::fromLatin1(endpoint.requests().value(0))).queryItemValue(QStringLiteral("code_verifier"));
    QVERIFY(verifier.size() >= 43 && verifier.size() <= 128);
    const QByteArray challenge = QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                     .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    // The user's account suggested; the code decoded once and sent once encoded; a state of at least 128 bits.
    const auto asked = [&page](const char* name) { return page.asked.queryItemValue(QLatin1String(name)); };
    QCOMPARE((QStringList{asked("code_challenge"), asked("code_challenge_method"), asked("login_hint")}),
             (QStringList{QString::fromLatin1(challenge), QStringLiteral("S256"), QStringLiteral("anna")}));
    QVERIFY(endpoint.requests().value(0).contains("&code=4%2F0A%20b%25c&") && asked("state").size() >= 22);
    QCOMPARE(signIn.account() + QString::fromLatin1(signIn.refreshToken()),
             QStringLiteral("konto@example.com1//0e-Aktualisierungstoken"));
    if (flood)
        QVERIFY2(flood->cpuShare() < 0.2, qPrintable(QString::number(flood->cpuShare()))); // spinning: 1
}

void TestSignIn::deviceSignIn_data()
{
    QTest::addColumn<QList<TokenEndpoint::Answer>>("answers"); // of the token address, the last one repeated
    QTest::addColumn<QString>("said");                         // in the reason; empty when signed in
    const TokenEndpoint::Answer pending = tokenError("authorization_pending");
    QTest::newRow("pending, slower, signed in")
        << QList{DeviceCode, pending, tokenError("slow_down"), TokenEndpoint::token("at", 3599, "rt-geraet")}
        << QString();
    QTest::newRow("code expired") << QList{DeviceCode, pending, tokenError("expired_token")}
                                  << QStringLiteral("abgelaufen.");
    QTest::newRow("denied") << QList{DeviceCode, tokenError("access_denied")} << QStringLiteral("abgelehnt");
    QTest::newRow("denied, the service saying why")
        << QList{DeviceCode,
                 TokenEndpoint::Answer{400, R"({"error":"access_denied","error_description":"AADSTS70000: Nein"})"}}
        << QStringLiteral("abgelehnt: AADSTS70000: Nein");
    QTest::newRow("pending until the code's end") << QList{DeviceCode, pending} << QStringLiteral("ohne dass");
    // A device code address where nothing listens is named in the reason, not taken for the token address.
    QTest::newRow("device code address unreachable")
        << QList<TokenEndpoint::Answer>{} << QStringLiteral("Die Gerätecode-Adresse ist nicht erreichbar");
}

// The device code against a local address that gives the code and then answers each poll in turn; a second of
// the service's interval lasts 20 ms here.
void TestSignIn::deviceSignIn()
{
    QFETCH(QList<TokenEndpoint::Answer>, answers);
    QFETCH(QString, said);
    TokenEndpoint endpoint(answers);
    const QByteArray url = answers.isEmpty()
                               ? "http://127.0.0.1:" + QByteArray::number(ScriptedSmtpServer::unusedPort()) + "/code"
                               : endpoint.url();
    QElapsedTimer clock;
    clock.start();
    DeviceSignIn signIn(deviceSetting(url), {.deviceSecond = 20ms});
    QSignalSpy done(&signIn, &Job::finished);
    QVERIFY(done.wait(10000));
    QVERIFY2(signIn.error().contains(said) && signIn.refreshToken().isEmpty() == !said.isEmpty(),
             qPrintable(signIn.error()));
    if (answers.isEmpty())
        return;
    QCOMPARE(signIn.caption() + signIn.address().toString(),
             QStringLiteral("Code ABCD-EFGH eingeben unter:https://microsoft.com/devicelogin"));
    QCOMPARE(endpoint.requests().value(0), QByteArray("client_id=kadmel-app&scope=SMTP.Send%20offline_access"));
    QCOMPARE(endpoint.requests().value(1),
             QByteArray("grant_type=urn%3Aietf%3Aparams%3Aoauth%3Agrant-type%3Adevice_code"
                        "&device_code=Gm%2BRh&client_id=kadmel-app"));
    if (said.isEmpty()) {
        QVERIFY(clock.elapsed() >= 6 * 20); // "slow_down" made the 1 s interval 6 s: 160 ms, not 60
        QCOMPARE(signIn.refreshToken(), QByteArray("rt-geraet"));
    }
}

// Dropped while it waits on the person, a sign-in asks the service no more.
void TestSignIn::droppedSignInAsksNoMore()
{
    TokenEndpoint endpoint({DeviceCode, tokenError("authorization_pending")});
    JobPtr<DeviceSignIn> signIn =
        startJob<DeviceSignIn>(deviceSetting(endpoint.url()), SignInTimings{.deviceSecond = 5ms});
    QTRY_VERIFY_WITH_TIMEOUT(endpoint.requests().size() >= 3, 10000);
    signIn.reset();
    QTest::qWait(100); // a request already on its way may still arrive
    const qsizetype asked = endpoint.requests().size();
    QTest::qWait(100); // twenty intervals
    QCOMPARE(endpoint.requests().size(), asked);
}

QTEST_GUILESS_MAIN(TestSignIn)
#include "tst_signin.moc"
