#include "UiTestSupport.h"

#include "store/Store.h"
#include "ui/Form5.h"
#include "ui/PortText.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;
using namespace kadmel::test;

namespace {

template <typename T> T* child(QWidget& dialog, const char* name)
{
    T* widget = dialog.findChild<T*>(QLatin1String(name));
    if (!widget)
        qFatal("no %s", name);
    return widget;
}

Settings stored()
{
    Settings s;
    s.WatchFolder = "/srv/kadmel";
    s.SmtpServer = "mail.example.com";
    s.SmtpPort = 587;
    s.SmtpUser = "anna";
    s.SmtpPassword = "g\xe4heim";
    s.UseSpa = 2;
    s.AutoStart = 1;
    return s;
}

} // namespace

class TestSettingsDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void portText_data();
    void portText();
    void showsStoredValues();
    void okWritesSettingsCancelKeepsThem();
    void refusedConfirmKeepsDialogOpen();
};

void TestSettingsDialog::portText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // -1: refused
    QTest::newRow("leading zeros") << QStringLiteral("0025") << 25;
    QTest::newRow("half rounds to even below") << QStringLiteral("24.5") << 24;
    QTest::newRow("half rounds to even above") << QStringLiteral("25.5") << 26;
    QTest::newRow("decimal comma") << QStringLiteral("25,5") << 26;
    QTest::newRow("negative lower bound") << QStringLiteral("-32768") << -32768;
    QTest::newRow("upper bound") << QStringLiteral("32767") << 32767;
    QTest::newRow("rounds past the upper bound") << QStringLiteral("32767.5") << -1;
    QTest::newRow("above 16 bits") << QStringLiteral("65535") << -1;
    QTest::newRow("no number") << QStringLiteral("smtp") << -1;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("trailing letters") << QStringLiteral("25a") << -1;
}

void TestSettingsDialog::portText()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    const std::optional<qint16> parsed = parsePortText(text);
    if (port == -1 && text != QStringLiteral("-1"))
        QVERIFY(!parsed);
    else
        QCOMPARE(int(parsed.value_or(-1)), port);
}

void TestSettingsDialog::showsStoredValues()
{
    QTemporaryDir dir;
    Store store(dir.path());
    PromptRecorder prompts;
    store.settings() = stored();
    {
        Form5 dialog(store, prompts, {});
        QCOMPARE(child<QLabel>(dialog, "Label2")->text(), QStringLiteral("/srv/kadmel"));
        QCOMPARE(child<QLabel>(dialog, "Label2")->toolTip(), QStringLiteral("/srv/kadmel"));
        QCOMPARE(child<QLineEdit>(dialog, "Text1")->text(), QStringLiteral("mail.example.com"));
        QCOMPARE(child<QLineEdit>(dialog, "Text4")->text(), QStringLiteral("587"));
        QCOMPARE(child<QLineEdit>(dialog, "Text2")->text(), QStringLiteral("anna"));
        QCOMPARE(child<QLineEdit>(dialog, "Text3")->text(), QStringLiteral("gäheim"));
        QCOMPARE(child<QLineEdit>(dialog, "Text3")->echoMode(), QLineEdit::Password);
        QVERIFY(child<QCheckBox>(dialog, "Check1")->isChecked());
        QVERIFY(!child<QCheckBox>(dialog, "Check2")->isChecked());
    }
    {
        // Never-set switches show unticked and are stored as 1 (off) on OK.
        store.settings().UseSpa = 0;
        store.settings().AutoStart = 0;
        Form5 dialog(store, prompts, {});
        QVERIFY(!child<QCheckBox>(dialog, "Check1")->isChecked());
        QVERIFY(!child<QCheckBox>(dialog, "Check2")->isChecked());
        child<QPushButton>(dialog, "Command1")->click();
        QCOMPARE(store.settings().UseSpa, qint16(1));
        QCOMPARE(store.settings().AutoStart, qint16(1));
    }
}

void TestSettingsDialog::okWritesSettingsCancelKeepsThem()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    {
        Store store(dir.path());
        store.loadAtStartup();
        store.settings() = stored();
        // Browsing and then cancelling leaves everything as it was.
        Form5 dialog(store, prompts, [](QWidget*) { return QStringLiteral("/tmp/elsewhere"); });
        child<QPushButton>(dialog, "Command6")->click();
        QCOMPARE(child<QLabel>(dialog, "Label2")->text(), QStringLiteral("/tmp/elsewhere"));
        child<QPushButton>(dialog, "Command2")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(store.settings(), stored());
    }
    {
        Store store(dir.path());
        store.loadAtStartup();
        store.settings() = stored();
        Form5 dialog(store, prompts, [](QWidget*) { return QStringLiteral("/home/anna/ZUB"); });
        child<QPushButton>(dialog, "Command6")->click();
        child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral(" smtp.example.org "));
        child<QLineEdit>(dialog, "Text4")->setText(QStringLiteral("24.5"));
        child<QLineEdit>(dialog, "Text2")->setText(QStringLiteral("jörg"));
        child<QCheckBox>(dialog, "Check1")->setChecked(false);
        child<QCheckBox>(dialog, "Check2")->setChecked(true);
        QSignalSpy saved(&dialog, &Form5::settingsSaved);
        child<QPushButton>(dialog, "Command1")->click();
        QCOMPARE(saved.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    // The file holds the new values, as a later start reads them.
    Store reread(dir.path());
    reread.loadAtStartup();
    const Settings& s = reread.settings();
    QCOMPARE(s.WatchFolder, QByteArray("/home/anna/ZUB"));
    QCOMPARE(s.SmtpServer, QByteArray(" smtp.example.org "));
    QCOMPARE(s.SmtpPort, qint16(24));
    QCOMPARE(s.SmtpUser, QByteArray("j\xf6rg"));
    QCOMPARE(s.SmtpPassword, QByteArray("g\xe4heim"));
    QCOMPARE(s.UseSpa, qint16(1));
    QCOMPARE(s.AutoStart, qint16(2));
    QVERIFY(prompts.asked.isEmpty());
}

void TestSettingsDialog::refusedConfirmKeepsDialogOpen()
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    {
        Store store(dir.path());
        store.settings() = stored();
        Form5 dialog(store, prompts, {});
        dialog.show();
        child<QLineEdit>(dialog, "Text4")->setText(QStringLiteral("fünfundzwanzig"));
        child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("other"));
        child<QPushButton>(dialog, "Command1")->click();
        QCOMPARE(prompts.texts(), QStringList{QStringLiteral("Ungültige Portnummer.")});
        QVERIFY(dialog.isVisible());
        QCOMPARE(store.settings(), stored());
        QVERIFY(!QFile::exists(store.settingsFilePath()));
    }
    {
        // A program folder that is a file: the save fails, the reason is said, nothing is taken over.
        QFile blocker(dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Store store(blocker.fileName());
        store.settings() = stored();
        Form5 dialog(store, prompts, {});
        dialog.show();
        child<QLineEdit>(dialog, "Text1")->setText(QStringLiteral("other"));
        child<QPushButton>(dialog, "Command1")->click();
        QCOMPARE(prompts.asked.size(), 2);
        QVERIFY(prompts.asked.last().text.startsWith(QStringLiteral("Die Einstellungen konnten nicht gespeichert")));
        QVERIFY(prompts.asked.last().text.size() > 60);
        QVERIFY(dialog.isVisible());
        QCOMPARE(store.settings(), stored());
    }
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
