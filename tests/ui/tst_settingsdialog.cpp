#include "UiTestSupport.h"
#include "support/AuthorizationPage.h"
#include "support/LocalSettings.h"
#include "support/TokenEndpoint.h"

#include "ui/Form5.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QNetworkAccessManager>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

using namespace kadmel;
using namespace kadmel::test;

Q_DECLARE_METATYPE(TokenEndpoint::Answer)

namespace {

// Answers the next modal dialog: an input dialog takes the text; any other is read (folder, title, buttons) and closed.
void answerNextDialog(const QString& input, QStringList* texts = nullptr)
{
    QTimer::singleShot(0, qApp, [input, texts] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (auto* asked = qobject_cast<QInputDialog*>(dialog))
            return asked->setTextValue(input), asked->accept();
        if (auto* picker = qobject_cast<QFileDialog*>(dialog))
            *texts << picker->directory().absolutePath() << picker->windowTitle();
        for (const QAbstractButton* button : dialog->findChild<QDialogButtonBox*>()->buttons())
            *texts << button->text().remove(QLatin1Char('&'));
        dialog->reject();
    });
}

const Settings stored{"/srv/kadmel", "mail.example.com", 587, "anna", "g\xe4heim", 2, 1};

// Types a server, the port and the autostart box into a new dialog and presses OK; true when it closed.
bool confirm(Store& store, Prompts& prompts, bool withSession, const QString& port = QStringLiteral("25"))
{
    Form5 dialog(store, prompts, {});
    dialog.show();
    child<QLineEdit>(dialog, "Text4")->setText(port);
    child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("other"));
    child<QCheckBox>(dialog, "StartWithSession")->setChecked(withSession);
    child<QCheckBox>(dialog, "RetryFailed")->setChecked(true);
    child<QPushButton>(dialog, "Command1")->click();
    return !dialog.isVisible();
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit()); }
    void okWritesSettingsCancelKeepsThem();
    void confirmTakesPortAndSessionEntry();
    void signInChoiceRoundTrips();
    void browserSignIn_data();
    void browserSignIn();
    void staysOnScreen_data();
    void staysOnScreen();

private:
    QTemporaryDir m_config; // the session's autostart folder lies below it
    QString entry() const { return m_config.filePath(QStringLiteral("autostart/com.example.Kadmel.desktop")); }
};

void TestSettingsDialog::okWritesSettingsCancelKeepsThem()
{
    StoreInFolder s;
    auto& [dir, prompts, store] = s;
    store->settings() = stored;
    {
        // Browsing and then cancelling leaves everything as it was; without kadmel.ini the choice is "Keine".
        Form5 dialog(*store, prompts, [](QWidget*) { return QStringLiteral("/tmp/elsewhere"); });
        QCOMPARE(child<QComboBox>(dialog, "Encryption")->currentText(), QStringLiteral("Keine"));
        child<QPushButton>(dialog, "Command6")->click();
        child<QComboBox>(dialog, "Encryption")->setCurrentIndex(1);
        child<QPushButton>(dialog, "Command2")->click();
    }
    QCOMPARE(store->settings(), stored);
    QVERIFY(!QFile::exists(iniFilePathIn(dir.path())));
    {
        QVERIFY(saveIni(dir.path(), {.encryption = Encryption::SslTls}));
        Form5 dialog(*store, prompts, [](QWidget*) { return QStringLiteral("/home/anna/ZUB"); });
        const auto line = [&dialog](const char* name) { return child<QLineEdit>(dialog, name); };
        auto* encryption = child<QComboBox>(dialog, "Encryption");
        QCOMPARE((QStringList{child<QLabel>(dialog, "Label2")->toolTip(), line("Text1")->text(), line("Text4")->text(),
                              line("Text2")->text(), line("Text3")->text(), encryption->currentText()}),
                 (QStringList{QStringLiteral("/srv/kadmel"), QStringLiteral("mail.example.com"), QStringLiteral("587"),
                              QStringLiteral("anna"), QStringLiteral("gäheim"), QStringLiteral("SSL/TLS")}));
        QVERIFY(child<QCheckBox>(dialog, "Check1")->isChecked() && !child<QCheckBox>(dialog, "Check2")->isChecked() &&
                !child<QCheckBox>(dialog, "RetryFailed")->isChecked());

        child<QPushButton>(dialog, "Command6")->click();
        child<QPushButton>(dialog, "ReceiptBrowse")->click();
        line("Text1")->setText(QStringLiteral(" smtp.example.org "));
        line("Text4")->setText(QStringLiteral("24.5")); // half to even: 24
        line("Text2")->setText(QStringLiteral("jörg"));
        child<QCheckBox>(dialog, "Check1")->setChecked(false);
        child<QCheckBox>(dialog, "Check2")->setChecked(true);
        child<QCheckBox>(dialog, "RetryFailed")->setChecked(true);
        child<QPushButton>(dialog, "ArchiveBrowse")->click();
        QVERIFY(line("ArchiveFolder")->text() == QStringLiteral("/home/anna/ZUB") &&
                line("ReceiptFolder")->text() == QStringLiteral("/home/anna/ZUB"));
        line("ArchiveFolder")->setText(dir.path());
        line("ReceiptFolder")->setText(dir.path());
        encryption->setCurrentIndex(1);
        QSignalSpy saved(&dialog, &Form5::settingsSaved);
        child<QPushButton>(dialog, "Command1")->click();
        QCOMPARE(saved.count(), 1);
        QVERIFY(fileBytes(iniFilePathIn(dir.path())).contains("Ordner=" + QFile::encodeName(dir.path())));
    }
    // The files hold the new values, as a later start reads them.
    QVERIFY(loadIni(dir.path()).encryption == Encryption::StartTls && loadIni(dir.path()).retry);
    QCOMPARE(store->kadmelIni().read().archiveFolder.path(), dir.path());
    const Settings expected{"/home/anna/ZUB", " smtp.example.org ", 24, "j\xf6rg", "g\xe4heim", 1, 2};
    QCOMPARE(loadedStore(dir.path())->settings(), expected);
    {
        // Never-set switches show unticked and store 1 (off), a never-set port 25; the password a "*" per character.
        store->settings().UseSpa = store->settings().AutoStart = store->settings().SmtpPort = 0;
        Form5 dialog(*store, prompts, {});
        QVERIFY(!child<QCheckBox>(dialog, "Check1")->isChecked() && !child<QCheckBox>(dialog, "Check2")->isChecked());
        QCOMPARE(child<QLineEdit>(dialog, "Text4")->text() + child<QLineEdit>(dialog, "Text3")->displayText(),
                 QStringLiteral("25******"));
        child<QPushButton>(dialog, "Command1")->click();
        QVERIFY(store->settings().UseSpa == 1 && store->settings().AutoStart == 1 && store->settings().SmtpPort == 25);
    }
    // Qt's own dialogs in German: the real folder picker, opened at the nearest watched folder that exists.
    QVERIFY(installGermanTranslations(*qApp));
    store->settings().WatchFolder = toAnsi(dir.path() + QStringLiteral("/noch nicht da"));
    Form5 dialog(*store, prompts, systemFolderPicker());
    QStringList seen;
    answerNextDialog({}, &seen);
    child<QPushButton>(dialog, "Command6")->click();
    QCOMPARE(seen, (QStringList{dir.path(), QStringLiteral("Verzeichnis suchen"), QStringLiteral("Auswählen"),
                                QStringLiteral("Abbrechen")}));
    QVERIFY(dialog.folderValue() == dir.path() + QStringLiteral("/noch nicht da") && prompts.asked.isEmpty());
}

// A refused "OK" says why, keeps the dialog open and takes nothing over: not in memory, the files or autostart entry.
void TestSettingsDialog::confirmTakesPortAndSessionEntry()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    const auto refused = [&](const QString& programFolder, const QString& port = QStringLiteral("25")) {
        Store store(programFolder);
        store.settings() = stored;
        return !confirm(store, prompts, true, port) && store.settings() == stored && !QFile::exists(entry());
    };
    // Port texts that name no port from 1 to 32767, rounded half to even or not a number at all.
    for (const char* port : {"25a", "32767.5", "0,5"})
        QVERIFY2(refused(dir.path(), QString::fromLatin1(port)), port);
    QCOMPARE(prompts.texts(),
             QStringList(3, QStringLiteral("Ungültige Portnummer.\nGültig sind die Zahlen von 1 bis 32767.")));

    // A folder where the settings file belongs: the save fails and says so (its reason: tst_settingssave).
    const QString settingsFile = Store(dir.path()).settingsFilePath();
    QVERIFY(QDir().mkpath(settingsFile) && refused(dir.path()) && QDir(settingsFile).removeRecursively());
    QVERIFY(prompts.texts().at(3).startsWith(QStringLiteral("Die Einstellungen konnten nicht gespeichert werden.\n")));

    // Accepted, the session entry follows the box.
    const auto store = loadedStore(dir.path());
    const auto ticked = [&] { return child<QCheckBox>(Form5(*store, prompts, {}), "StartWithSession")->isChecked(); };
    QVERIFY(confirm(*store, prompts, true, QStringLiteral("25,5")) && ticked());
    QVERIFY(fileBytes(entry()).contains("\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + '\n'));
    QCOMPARE(store->settings().SmtpPort, 26); // a decimal comma, and half to even upwards
    QVERIFY(confirm(*store, prompts, false, QStringLiteral("32767")) && !ticked() && !QFile::exists(entry()) &&
            store->settings().SmtpPort == 32767);
    QCOMPARE(prompts.asked.size(), 4);
}

void TestSettingsDialog::signInChoiceRoundTrips()
{
    StoreInFolder s;
    auto& [dir, prompts, store] = s;
    store->settings() = stored;
    const QString microsoft = QStringLiteral("https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/");
    {
        Form5 dialog(*store, prompts, {});
        dialog.show();
        const auto line = [&dialog](const char* name) { return child<QLineEdit>(dialog, name); };
        auto* method = child<QComboBox>(dialog, "SignInMethod");
        auto* oauth = child<QGroupBox>(dialog, "SignInBox");
        QVERIFY(method->currentText() == QStringLiteral("Passwort") && !oauth->isVisible() &&
                line("Text3")->isEnabled());
        method->setCurrentIndex(1); // the service account needs no authorisation address, and no password
        QVERIFY(oauth->isVisible() && !line("AuthorizationUrl")->isVisible() && !line("Text3")->isEnabled());
        answerNextDialog(QStringLiteral("contoso/evil?x=")); // would change the addresses: refused
        child<QPushButton>(dialog, "FillMicrosoft")->click();
        QVERIFY(line("TokenUrl")->text().isEmpty());
        answerNextDialog(QStringLiteral(" contoso.onmicrosoft.com "));
        child<QPushButton>(dialog, "FillMicrosoft")->click();
        QCOMPARE(
            (QStringList{line("TokenUrl")->text(), line("Scope")->text(), line("Text1")->text(), line("Text4")->text(),
                         child<QComboBox>(dialog, "Encryption")->currentText(), line("MailsPerMinute")->text(),
                         line("MailsPerDay")->text()}),
            (QStringList{microsoft + QStringLiteral("token"), QStringLiteral("https://outlook.office365.com/.default"),
                         QStringLiteral("smtp.office365.com"), QStringLiteral("587"), QStringLiteral("STARTTLS"),
                         QStringLiteral("30"), QStringLiteral("10000")}));
        // The template's addresses and scope follow the method, saying what changed; SPA has no say under OAuth.
        method->setCurrentIndex(2);
        QCOMPARE(line("Scope")->text() + u' ' + line("AuthorizationUrl")->text(),
                 QStringLiteral("https://outlook.office.com/SMTP.Send https://outlook.office.com/IMAP.AccessAsUser.All "
                                "offline_access openid email ") +
                     microsoft + QStringLiteral("authorize"));
        QVERIFY(
            child<QLabel>(dialog, "FilledNote")->text().endsWith(QStringLiteral("Autorisierungsadresse, Bereich.")));
        QVERIFY(!child<QCheckBox>(dialog, "Check1")->isEnabled());
        method->setCurrentIndex(1);
        QCOMPARE(line("Scope")->text(), QStringLiteral("https://outlook.office365.com/.default"));

        // Each refusal says why and keeps the dialog open.
        const auto refusedWith = [&](const char* text) {
            child<QPushButton>(dialog, "Command1")->click();
            return dialog.isVisible() && prompts.texts().constLast() == QString::fromUtf8(text);
        };
        line("MailsPerMinute")->setText(QStringLiteral("10001"));
        QVERIFY(refusedWith("Ungültige Zahl der E-Mails pro Minute.\nGültig sind die Zahlen von 0 bis 10000; leer "
                            "heißt: ein Auftrag alle 5 Sekunden."));
        line("MailsPerMinute")->setText(QStringLiteral("30"));
        child<QComboBox>(dialog, "Encryption")->setCurrentIndex(0);
        QVERIFY(refusedWith("OAuth 2.0 erfordert eine verschlüsselte Verbindung."));
        child<QComboBox>(dialog, "Encryption")->setCurrentIndex(2);
        QVERIFY(refusedWith("Bitte geben Sie die Client-ID an."));
        line("ClientId")->setText(QStringLiteral("kadmel-app"));
        QVERIFY(refusedWith("Bitte geben Sie das Client-Geheimnis an."));
        line("ClientSecret")->setText(QStringLiteral("Geheimnis~42"));
        line("TokenUrl")->setText(QStringLiteral("http://login.example.com/token"));
        QVERIFY(refusedWith("Die Token-Adresse muss eine https-Adresse sein."));
        line("TokenUrl")->setText(microsoft + QStringLiteral("token"));
        child<QPushButton>(dialog, "Command1")->click();
        QVERIFY(!dialog.isVisible());
    }
    const std::optional<AuthSetting> service = loadIni(dir.path()).signIn;
    QVERIFY(service->method == AuthMethod::OAuth2Dienst && service->tokenUrl == toAnsi(microsoft) + "token" &&
            service->clientId == "kadmel-app" && service->clientSecret == "Geheimnis~42" && prompts.asked.size() == 6);
    QVERIFY(!fileBytes(iniFilePathIn(dir.path())).contains("Geheimnis~42"));
    {
        // Shown again as stored; the browser sign-in adds its address, and Google fills it in.
        Form5 dialog(*store, prompts, {});
        QCOMPARE(child<QLineEdit>(dialog, "ClientSecret")->text(), QStringLiteral("Geheimnis~42"));
        child<QComboBox>(dialog, "SignInMethod")->setCurrentIndex(2);
        child<QPushButton>(dialog, "FillGoogle")->click();
        child<QPushButton>(dialog, "Command1")->click();
    }
    const std::optional<AuthSetting> google = loadIni(dir.path()).signIn;
    QVERIFY(google->method == AuthMethod::OAuth2Browser && google->scope == "https://mail.google.com/ openid email" &&
            google->authorizationUrl == "https://accounts.google.com/o/oauth2/v2/auth" &&
            loadIni(dir.path()).pace == (PaceLimits{20, 2000}));

    // An unknown Verfahren shows no choice and is not taken for "Kennwort": OK asks for one.
    QVERIFY(writeWholeFile(iniFilePathIn(dir.path()), "[Anmeldung]\nVerfahren=Magie\n", nullptr));
    Form5 dialog(*store, prompts, {});
    QCOMPARE(child<QComboBox>(dialog, "SignInMethod")->currentIndex(), -1);
    child<QPushButton>(dialog, "Command1")->click();
    QCOMPARE(prompts.texts().last(), QStringLiteral("Bitte wählen Sie ein Anmeldeverfahren."));
}

// The sign-in flows themselves are tested in tests/signin; here the dialog shows them and keeps their token.
void TestSettingsDialog::browserSignIn_data()
{
    QTest::addColumn<TokenEndpoint::Answer>("tokenAnswer");
    QTest::addColumn<QString>("said"); // in the message; empty when signed in
    QTest::newRow("signed in") << TokenEndpoint::granted() << QString();
    QTest::newRow("code refused") << TokenEndpoint::Answer{400, R"({"error":"invalid_grant",)"
                                                                R"("error_description":"AADSTS54005: Code eingelöst"})"}
                                  << QStringLiteral("AADSTS54005: Code eingelöst");
}

void TestSettingsDialog::browserSignIn()
{
    QFETCH(TokenEndpoint::Answer, tokenAnswer);
    QFETCH(QString, said);
    StoreInFolder s;
    auto& [dir, prompts, store] = s;
    AuthorizationPage page;
    page.back = "code=4";
    TokenEndpoint endpoint({tokenAnswer});
    store->settings() = stored;
    AuthSetting kept{AuthMethod::OAuth2Browser, endpoint.url(), page.url(), "kadmel-app", "", "", "1//alt"};
    QVERIFY(saveIni(dir.path(), {.encryption = Encryption::SslTls, .signIn = kept}));
    QNetworkAccessManager browser;
    // xdg-open started but no browser came (a terminal server): the address is shown, fetched here by hand.
    const BrowserOpener opener = [&browser](const QUrl& url) { return browser.get(QNetworkRequest(url)) != nullptr; };
    Form5 dialog(*store, prompts, {}, nullptr, {opener, {.browserLimit = std::chrono::minutes(1)}});
    dialog.show();
    auto* signIn = child<QPushButton>(dialog, "SignIn");
    signIn->click();
    QTRY_VERIFY(child<QLineEdit>(dialog, "SignInAddress")->text().startsWith(QString::fromLatin1(page.url())));
    QTRY_VERIFY_WITH_TIMEOUT(signIn->text() != QStringLiteral("Anmeldung abbrechen"), 10000);
    // Signed in as another account: a warning. A failed attempt says why and keeps the earlier sign-in, and OK the
    // token the service renewed meanwhile.
    const QString seen = child<QLabel>(dialog, "SignInState")->text() + u'|' + prompts.texts().join(u'|');
    QVERIFY2(said.isEmpty() ? seen.startsWith(QStringLiteral("Angemeldet als konto@example.com.\nAchtung"))
                            : seen.startsWith(QStringLiteral("Angemeldet.|")) && seen.contains(said),
             qPrintable(seen));
    kept.refreshToken = "1//neu";
    QVERIFY(saveIni(dir.path(), {.signIn = kept}));
    child<QPushButton>(dialog, "Command1")->click();
    QCOMPARE(loadIni(dir.path()).signIn->refreshToken, said.isEmpty() ? "1//0e-Aktualisierungstoken" : "1//neu");
    QVERIFY(!fileBytes(iniFilePathIn(dir.path())).contains("1//0e"));
}

void TestSettingsDialog::staysOnScreen_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<int>("method");
    for (const int screen : {0, 1})
        for (const int method : {0, 1, 2, 3})
            QTest::addRow("%s, sign-in %d", screen ? "1024 x 768" : "1280 x 800", method) << screen << method;
}

void TestSettingsDialog::staysOnScreen()
{
    QFETCH(int, screen);
    QFETCH(int, method);
    if (QGuiApplication::screens().size() != 2)
        QSKIP("needs the two offscreen screens of the test's main()");
    StoreInFolder s;
    Form5 dialog(*s.store, s.prompts, {});
    const QRect available = QGuiApplication::screens().at(screen)->availableGeometry();
    dialog.move(available.topLeft() + QPoint(40, 300)); // low on the screen, where the OAuth rows would not fit
    dialog.show();
    child<QComboBox>(dialog, "SignInMethod")->setCurrentIndex(method);
    // Inside the screen with OK in sight; the rows scroll only where the dialog has the screen's whole height.
    auto* ok = child<QPushButton>(dialog, "Command1");
    const QScrollBar* rowsBar = dialog.findChild<QScrollArea*>()->verticalScrollBar();
    QTRY_VERIFY(available.contains(dialog.frameGeometry()) && dialog.rect().contains(ok->geometry()) &&
                (!rowsBar->isVisible() || dialog.frameGeometry().height() >= available.height() - 1));
    child<QLineEdit>(dialog, "Text1")->setFocus(); // Tab goes down the rows (no stop above the last) to OK
    for (int top = 0, y = 0; QApplication::focusWidget() != ok;
         top = y, QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab))
        QVERIFY((y = QApplication::focusWidget()->mapToGlobal(QPoint()).y()) >= top - 8);
}

KADMEL_TEST_MAIN_ON_SCREENS(TestSettingsDialog, QSize(1280, 800), QSize(1024, 768))
#include "tst_settingsdialog.moc"
