#include "UiTestSupport.h"

#include "store/EncryptionSetting.h"
#include "store/FileAccess.h"
#include "store/RetrySetting.h"
#include "ui/AutostartEntry.h"
#include "ui/Form5.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Reads the modal dialog the code under test opens next: a folder picker's folder and title, then the
// buttons, mnemonic marks left out; then closes it.
void readNextDialog(QStringList& texts)
{
    QTimer::singleShot(0, qApp, [&texts] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (auto* picker = qobject_cast<QFileDialog*>(dialog))
            texts << picker->directory().absolutePath() << picker->windowTitle();
        for (const QAbstractButton* button : dialog->findChild<QDialogButtonBox*>()->buttons())
            texts << button->text().remove(QLatin1Char('&'));
        dialog->reject();
    });
}

Settings stored()
{
    return {"/srv/kadmel", "mail.example.com", 587, "anna", "g\xe4heim", 2, 1};
}

// Opens the dialog on the store, types a server and the port, sets the autostart box and presses OK; true
// when the dialog closed.
bool confirm(Store& store, Prompts& prompts, bool withSession, const QString& port = QStringLiteral("25"))
{
    Form5 dialog(store, prompts, {});
    dialog.show();
    child<QLineEdit>(dialog, "Text4")->setText(port);
    child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("other"));
    child<QCheckBox>(dialog, "Check3")->setChecked(withSession);
    child<QCheckBox>(dialog, "Check4")->setChecked(true);
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
    void refusedConfirmKeepsDialogOpen();
    void germanFolderPickerAndButtons();
    void sessionEntryFollowsTheBox();

private:
    QTemporaryDir m_config; // the session's autostart folder lies below it
    QString entry() const { return m_config.filePath(QStringLiteral("autostart/com.example.Kadmel.desktop")); }
};

void TestSettingsDialog::okWritesSettingsCancelKeepsThem()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    const auto store = loadedStore(dir.path());
    store->settings() = stored();
    {
        // Browsing and then cancelling leaves everything as it was; without kadmel.ini the choice is "Keine".
        Form5 dialog(*store, prompts, [](QWidget*) { return QStringLiteral("/tmp/elsewhere"); });
        QCOMPARE(child<QComboBox>(dialog, "Combo1")->currentText(), QStringLiteral("Keine"));
        child<QPushButton>(dialog, "Command6")->click();
        child<QComboBox>(dialog, "Combo1")->setCurrentIndex(1);
        child<QPushButton>(dialog, "Command2")->click();
    }
    QCOMPARE(store->settings(), stored());
    QVERIFY(!QFile::exists(encryptionFilePathIn(dir.path())));
    {
        QVERIFY(saveEncryption(dir.path(), Encryption::SslTls));
        Form5 dialog(*store, prompts, [](QWidget*) { return QStringLiteral("/home/anna/ZUB"); });
        const auto line = [&dialog](const char* name) { return child<QLineEdit>(dialog, name); };
        auto* encryption = child<QComboBox>(dialog, "Combo1");
        QCOMPARE((QStringList{child<QLabel>(dialog, "Label2")->toolTip(), line("Text1")->text(), line("Text4")->text(),
                              line("Text2")->text(), line("Text3")->text(), encryption->currentText()}),
                 (QStringList{QStringLiteral("/srv/kadmel"), QStringLiteral("mail.example.com"), QStringLiteral("587"),
                              QStringLiteral("anna"), QStringLiteral("gäheim"), QStringLiteral("SSL/TLS")}));
        QVERIFY(child<QCheckBox>(dialog, "Check1")->isChecked() && !child<QCheckBox>(dialog, "Check2")->isChecked() &&
                !child<QCheckBox>(dialog, "Check4")->isChecked());

        child<QPushButton>(dialog, "Command6")->click();
        line("Text1")->setText(QStringLiteral(" smtp.example.org "));
        line("Text4")->setText(QStringLiteral("24.5")); // half to even: 24
        line("Text2")->setText(QStringLiteral("jörg"));
        child<QCheckBox>(dialog, "Check1")->setChecked(false);
        child<QCheckBox>(dialog, "Check2")->setChecked(true);
        child<QCheckBox>(dialog, "Check4")->setChecked(true);
        encryption->setCurrentIndex(1);
        QSignalSpy saved(&dialog, &Form5::settingsSaved);
        child<QPushButton>(dialog, "Command1")->click();
        QCOMPARE(saved.count(), 1);
    }
    // The files hold the new values, as a later start reads them.
    QCOMPARE(loadEncryption(dir.path()), Encryption::StartTls);
    QVERIFY(loadRetrySetting(dir.path()));
    const Settings expected{"/home/anna/ZUB", " smtp.example.org ", 24, "j\xf6rg", "g\xe4heim", 1, 2};
    QCOMPARE(loadedStore(dir.path())->settings(), expected);
    {
        // Never-set switches show unticked and are stored as 1 (off); a never-set port shows and stores 25.
        // The password shows a "*" for each character.
        store->settings().UseSpa = store->settings().AutoStart = store->settings().SmtpPort = 0;
        Form5 dialog(*store, prompts, {});
        QVERIFY(!child<QCheckBox>(dialog, "Check1")->isChecked() && !child<QCheckBox>(dialog, "Check2")->isChecked());
        QCOMPARE(child<QLineEdit>(dialog, "Text4")->text(), QStringLiteral("25"));
        QCOMPARE(child<QLineEdit>(dialog, "Text3")->displayText(), QStringLiteral("******"));
        child<QPushButton>(dialog, "Command1")->click();
        const Settings& s = store->settings();
        QVERIFY(s.UseSpa == 1 && s.AutoStart == 1 && s.SmtpPort == 25);
    }
    // Retry is on for "true" in any letter case alone, as people write it by hand.
    for (const auto& [value, on] : {std::pair<QByteArray, bool>{" TRUE", true},
                                    {"\"True\"", true},
                                    {"1", false},
                                    {"t rue", false},
                                    {"true;", false}}) {
        QVERIFY(writeWholeFile(encryptionFilePathIn(dir.path()), "[zustellung]\nautomatischWiederholen =" + value,
                               nullptr));
        QVERIFY2(loadRetrySetting(dir.path()) == on, value.constData());
    }
    QVERIFY(prompts.asked.isEmpty());
}

// A refused "OK" says why, keeps the dialog open and takes nothing over: not in memory, not the settings file,
// not the autostart entry (set before kadmel.ini and the settings file, so it is taken back).
void TestSettingsDialog::refusedConfirmKeepsDialogOpen()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    const auto refused = [&](const QString& programFolder, const QString& port = QStringLiteral("25")) {
        Store store(programFolder);
        store.settings() = stored();
        return !confirm(store, prompts, true, port) && store.settings() == stored() && !QFile::exists(entry());
    };
    // Port texts that name no port from 1 to 32767, rounded half to even or not a number at all.
    for (const char* port : {"25a", "32767.5", "0,5"})
        QVERIFY2(refused(dir.path(), QString::fromLatin1(port)), port);
    QCOMPARE(prompts.texts(),
             QStringList(3, QStringLiteral("Ungültige Portnummer.\nGültig sind die Zahlen von 1 bis 32767.")));

    // A program folder or the autostart folder that is a file, a folder where kadmel.ini belongs (no choice
    // shown, none assumed) or where the settings file belongs: the save fails and the reason is said.
    const QString blocker = dir.filePath(QStringLiteral("blocker"));
    const QString autostart = m_config.filePath(QStringLiteral("autostart"));
    QVERIFY(QFile(blocker).open(QIODevice::WriteOnly) && QFile(autostart).open(QIODevice::WriteOnly));
    QVERIFY(refused(blocker) && refused(dir.path()) && QFile::remove(autostart));
    const QString settingsFile = Store(dir.path()).settingsFilePath();
    for (const QString& blocked : {encryptionFilePathIn(dir.path()), settingsFile})
        QVERIFY(QDir().mkpath(blocked) && refused(dir.path()) && QDir(blocked).removeRecursively());
    QCOMPARE(prompts.asked.size(), 7);
    for (qsizetype i = 3; i < 7; ++i)
        QVERIFY2(prompts.asked.at(i).text.startsWith(QStringLiteral("Die Einstellungen konnten nicht gespeichert")) &&
                     prompts.asked.at(i).text.size() > 60,
                 qPrintable(prompts.asked.at(i).text));
    QVERIFY(!QFile::exists(settingsFile) && !QFile::exists(encryptionFilePathIn(dir.path()))); // none left behind
}

void TestSettingsDialog::sessionEntryFollowsTheBox()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    const auto store = loadedStore(dir.path());
    const auto ticked = [&] { return child<QCheckBox>(Form5(*store, prompts, {}), "Check3")->isChecked(); };
    const auto entryText = [this] {
        QFile file(entry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(confirm(*store, prompts, true, QStringLiteral("25,5")) && ticked());
    QVERIFY(entryText().contains("\nExec=" + QCoreApplication::applicationFilePath().toUtf8() + '\n'));
    QCOMPARE(store->settings().SmtpPort, 26); // a decimal comma, and half to even upwards
    QVERIFY(confirm(*store, prompts, false, QStringLiteral("32767")) && !ticked() && !QFile::exists(entry()));
    QCOMPARE(store->settings().SmtpPort, 32767);

    // A path with blanks, quotes and '%' stays one argument; '%' starts no field code.
    QVERIFY(AutostartEntry(QStringLiteral("/opt/Kadmel 3/\"neu\"/100%/kadmel")).set(true));
    QVERIFY(entryText().contains("\nExec=\"/opt/Kadmel 3/\\\\\"neu\\\\\"/100%%/kadmel\"\n"));
    QVERIFY(prompts.asked.isEmpty());
}

void TestSettingsDialog::germanFolderPickerAndButtons()
{
    // Qt's own dialogs in German: the real folder picker, opened at the watched folder (the nearest one
    // that exists), and a message box's standard buttons.
    QVERIFY(installGermanTranslations(*qApp));
    QTemporaryDir dir;
    PromptRecorder recorder;
    const auto store = loadedStore(dir.path());
    const QString existing = dir.filePath(QStringLiteral("KADMEL"));
    QVERIFY(QDir().mkpath(existing));
    store->settings().WatchFolder = toAnsi(existing + QStringLiteral("/noch nicht da"));
    Form5 dialog(*store, recorder, systemFolderPicker());
    QStringList seen;
    readNextDialog(seen);
    child<QPushButton>(dialog, "Command6")->click();
    QCOMPARE(seen, (QStringList{existing, QStringLiteral("Verzeichnis suchen"), QStringLiteral("Auswählen"),
                                QStringLiteral("Abbrechen")}));
    QCOMPARE(dialog.folderValue(), existing + QStringLiteral("/noch nicht da"));

    seen.clear();
    readNextDialog(seen);
    QMessageBox::question(nullptr, QString(), QStringLiteral("Wirklich?"), QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(seen, (QStringList{QStringLiteral("OK"), QStringLiteral("Abbrechen")}));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
