#include "UiTestSupport.h"
#include "engine/RetrySchedule.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"
#include "store/StorePaths.h"
#include "support/EventLoopGap.h"
#include "support/LocalSettings.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SmtpSink.h"
#include "ui/FolderCommands.h"
#include "ui/ProgressBox.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QHeaderView>
#include <functional>

using namespace kadmel;
using namespace kadmel::test;

namespace {

// Mails 1 … n in the folders given, saved unsynced (a full store in seconds), loaded back, the main window on it.
struct Fixture
{
    QTemporaryDir dir;
    Store store{dir.path(), FileSync::Skipped};
    PromptRecorder prompts;
    std::unique_ptr<Form1> window;

    explicit Fixture(const QList<int>& folders, quint16 smtpPort = 25, const QList<QByteArray>& recipients = {})
    {
        store.loadAtStartup();
        for (int i = 0; i < folders.size(); ++i)
            addMail(store, folders.at(i), recipients.value(i, "an@example.com"));
        store.settings() = localSettings(dir.path(), smtpPort);
        store.settings().AutoStart = 1;
        store.SaveAll();
        store.loadAtStartup();
        window = std::make_unique<Form1>(store, prompts, fastOptions());
        window->load();
        // Each list and its sorted view keep the model rules through every change the commands make.
        for (const int folder : {SentFolder, FailedFolder, DeletedFolder})
            for (QAbstractItemModel* model :
                 {window->list(folder)->model(), static_cast<QAbstractItemModel*>(window->listModel(folder))})
                new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest, model);
    }

    QAction* action(const char* name) const { return child<QAction>(*window, name); }
    void run(int folder, qint16 pos, const char* name)
    {
        window->list(folder)->selectRow(pos - 1);
        action(name)->trigger();
    }
    QList<qint16> rows(int folder) const
    {
        QList<qint16> ids;
        for (int r = 0; r < window->listModel(folder)->rowCount(); ++r)
            ids << window->listModel(folder)->idAt(r);
        return ids;
    }
    // A fresh start reads what memory holds, and every mail file belongs to a mail.
    bool diskMatches() const
    {
        return loadedStore(dir.path())->tables() == store.tables() &&
               QDir(store.mailsFolder()).entryList(QDir::Files).size() == store.tables().MailCount();
    }
};

} // namespace

class TestFolderCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void removeAndRemoveForGood();
    void editSendAndSendAll();
    void sendAllStops();
    void retriesFollowCommands();
    void severalAtOnce();
    void fullStore();
};

void TestFolderCommands::removeAndRemoveForGood()
{
    Fixture f({SentFolder, SentFolder, SentFolder, FailedFolder, FailedFolder, FailedFolder, FailedFolder});
    // Sorted by ID downwards with two header clicks, the top row is mail 3: the Delete key removes that mail.
    QTableView* sent = f.window->list(SentFolder);
    QHeaderView* header = sent->horizontalHeader();
    for (int click = 0; click < 2; ++click)
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(0) + 5, 5));
    sent->selectRow(0);
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    sent->setFocus();
    QTest::keyClick(sent, Qt::Key_Delete);
    QCOMPARE(f.rows(DeletedFolder), QList<qint16>{3});
    QCOMPARE(sent->model()->index(0, 0).data().toString() + u' ' + f.window->panel(2)->text(),
             QStringLiteral("2 2 Objekt(e)"));
    f.run(FailedFolder, 3, "Mnu_Err_RemoveAll");
    QCOMPARE(f.rows(DeletedFolder), (QList<qint16>{3, 4, 5, 6, 7}));
    QVERIFY(f.diskMatches()); // moved mails keep their IDs and files; only the index changed

    // For good, once the user has said so: the files go one per turn of the event loop; meanwhile no command
    // that changes the folders runs, and "OK" in the settings (records under IDs whose files moved) is refused.
    const auto before = snapshot(f.dir.path());
    f.run(DeletedFolder, 1, "Mnu_T_Remove"); // Cancel
    QCOMPARE(snapshot(f.dir.path()), before);
    // Confirmed while the dispatcher became busy: nothing happens, and panel 2 says so.
    f.prompts.answers = {PromptAnswer::Ok};
    f.prompts.onAsk = [&f](const PromptRecorder::Asked&) { QVERIFY(f.window->dispatcher()->beginCommand()); };
    f.run(DeletedFolder, 1, "Mnu_T_RemoveAll");
    QVERIFY(f.window->panel(2)->text().startsWith(QStringLiteral("Es wurde nichts entfernt: ")) &&
            snapshot(f.dir.path()) == before);
    f.window->dispatcher()->endCommand({});
    f.prompts.onAsk = {};
    QSignalSpy finished(f.window->commands(), &FolderCommands::removeFinished);
    f.prompts.answers = {PromptAnswer::Ok};
    f.run(DeletedFolder, 1, "Mnu_T_Remove");
    QVERIFY(!f.action("Mnu_T_RemoveAll")->isEnabled() && !f.action("Mnu_Err_Send")->isEnabled());
    f.window->openSettingsDialog();
    child<QPushButton>(*f.window->settingsDialog(), "Command1")->click();
    QVERIFY(f.window->settingsDialog()->isVisible() &&
            f.prompts.texts().last().contains(QStringLiteral("endgültig entfernt")));
    f.window->settingsDialog()->reject();
    QVERIFY(finished.wait(5000));
    QVERIFY(f.prompts.texts().at(2).startsWith(QStringLiteral("E-Mail (ID 3) endgültig löschen?")));
    // Every mail above the removed one moved down, in whatever folder it stands.
    QCOMPARE(f.rows(DeletedFolder), (QList<qint16>{3, 4, 5, 6}));
    QVERIFY(f.store.tables().mail(3).Subject == "Mail 4" && f.diskMatches());

    f.prompts.answers = {PromptAnswer::Ok};
    f.run(DeletedFolder, 2, "Mnu_T_RemoveAll");
    QVERIFY(f.prompts.texts().last().startsWith(QStringLiteral("Alle 4 E-Mails in „Gelöschte Objekte“")));
    QVERIFY(finished.wait(5000) && f.diskMatches());
    QCOMPARE(f.rows(SentFolder), (QList<qint16>{1, 2}));

    // An index that cannot be written is said in panel 2, and the dispatcher is released all the same.
    QVERIFY(QFile::remove(f.store.indexFilePath()) && QDir().mkpath(f.store.indexFilePath()));
    f.run(SentFolder, 1, "Mnu_O_Remove");
    QVERIFY(f.window->panel(2)->text().startsWith(QStringLiteral("Entfernen nicht vollständig gespeichert: ")) &&
            f.window->dispatcher()->IdleFlag()); // released all the same
    Form1 again(f.store, f.prompts, fastOptions());
    again.load();
    QVERIFY(again.panel(2)->text().startsWith(QStringLiteral("Ordnerindex konnte nicht gespeichert werden: ")));
}

void TestFolderCommands::editSendAndSendAll()
{
    SmtpSink sink;
    // Mail 3 carries a line break in its recipient, which the client refuses every time.
    Fixture f({SentFolder, FailedFolder, FailedFolder, FailedFolder}, sink.port(),
              {"an@example.com", "an@example.com", "a@example.com\r\nRCPT TO: <b@example.com>", "c@example.com"});
    FolderListModel* failed = f.window->listModel(FailedFolder);
    const auto cell = [failed](int column) { return failed->data(failed->index(0, column)).toString(); };
    const auto edit = [&f](const QString& to) {
        f.run(FailedFolder, 1, "Mnu_Err_Edit");
        frmMailEdit* editor = f.window->commands()->editor();
        child<QLineEdit>(*editor, "Text2")->setText(to);
        return editor;
    };
    // "Abbrechen" after typing changes nothing, in memory or on disk; no job is taken while the editor is open.
    const auto before = snapshot(f.dir.path());
    frmMailEdit* editor = edit(QStringLiteral("anders@example.com"));
    QVERIFY(!f.window->dispatcher()->IdleFlag());
    child<QPushButton>(*editor, "Command2")->click();
    QVERIFY(f.window->dispatcher()->IdleFlag() && snapshot(f.dir.path()) == before);

    // A save that fails keeps the record as the files hold it (so "Abbrechen" saved nothing either) and the dialog
    // open with the reason; with room again the same "OK" goes through, and a character Windows-1252 lacks is "?".
    QVERIFY(QFile::remove(f.store.indexFilePath()) && QDir().mkpath(f.store.indexFilePath()));
    editor = edit(QStringLiteral("neu@example.com"));
    child<QPushButton>(*editor, "Command1")->click();
    QVERIFY(editor->isVisible() && child<QLabel>(*editor, "ErrorText")->text().startsWith(QStringLiteral("Speichern")));
    QCOMPARE(f.store.tables().mail(2).To, QByteArray("an@example.com"));
    QVERIFY(QDir(f.store.indexFilePath()).removeRecursively());
    // Edited, it is another mail: a new Message-ID; when its job came in stays through the edit and the resend.
    f.store.tables().mail(2).Reserved = "<vorher.1@example.com>@@EG 01.12.2026 08:00:00";
    child<QLineEdit>(*editor, "Text3")->setText(QStringLiteral("\u03A9 \u20AC"));
    child<QPushButton>(*editor, "Command1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!f.window->commands()->editor(), 15000);
    QCOMPARE(cell(FolderListModel::ToColumn), QStringLiteral("neu@example.com"));
    QVERIFY(loadedStore(f.dir.path())->tables().mail(2).Subject == "? \x80" &&
            messageIdOf(f.store.tables().mail(2)).isEmpty());

    // In hand, the row still shows the record as it was, and a remove would change the folders under it: ignored.
    QSignalSpy done(f.window->dispatcher(), &Dispatcher::resendFinished);
    f.run(FailedFolder, 1, "Mnu_Err_Send");
    QVERIFY(cell(FolderListModel::StatusColumn) ==
                QStringLiteral("keine Verbindung – ") + fromAnsi(ResultText("ERRMessage4")) &&
            !f.action("Mnu_Err_Edit")->isEnabled());
    f.action("Mnu_O_RemoveAll")->trigger();
    QVERIFY(done.wait(15000) && f.window->progressBox()->isHidden()); // delivered and idle: no bar left standing
    QVERIFY(sink.messages().size() == 1 && sink.messages().first().rcptTos == QList<QByteArray>{"neu@example.com"});
    QVERIFY(sink.messages().first().content.contains("\r\nMessage-ID: " + messageIdOf(f.store.tables().mail(2))));
    QCOMPARE(extrasOf(f.store.tables().mail(2)).entered, QByteArray("01.12.2026 08:00:00"));
    // Saved as files, named by the subject: the sent mail as the server took it, a failed one as it would go now.
    savedFilesFolder = f.dir.path();
    f.run(SentFolder, 2, "Mnu_O_SaveAs");
    f.run(FailedFolder, 2, "Mnu_Err_SaveAs");
    QCOMPARE(fileBytes(f.dir.path() + QStringLiteral("/_ €.eml")), sink.messages().first().content);
    QVERIFY(fileBytes(f.dir.path() + QStringLiteral("/Mail 4.eml")).contains("\r\nSubject: Mail 4\r\n"));

    // "Alle senden" tries each mail once; the one that cannot go out keeps its place, and the one that
    // may have been delivered already is not tried.
    f.store.tables().mail(4).Status = "ERRMessage9";
    f.run(FailedFolder, 2, "Mnu_Err_SendAll");
    QVERIFY(done.wait(15000) && sink.messages().size() == 1 && f.rows(FailedFolder) == (QList<qint16>{3, 4}));
    QCOMPARE(f.window->panel(2)->text(), QStringLiteral("Alle Senden: 0 gesendet, 1 fehlgeschlagen."));
    QTRY_VERIFY_WITH_TIMEOUT(f.action("Mnu_Err_SendAll")->isEnabled(), 15000);

    // "Senden" on that one asks first: "Abbrechen" sends nothing, OK sends it (mail 1 stayed where it was).
    f.prompts.answers = {PromptAnswer::Cancel, PromptAnswer::Ok};
    f.run(FailedFolder, 2, "Mnu_Err_Send");
    QVERIFY(f.window->dispatcher()->IdleFlag());
    f.run(FailedFolder, 2, "Mnu_Err_Send");
    QVERIFY(done.wait(15000) && sink.messages().size() == 2);
    QCOMPARE(f.prompts.texts().filter(QStringLiteral("möglicherweise bereits zugestellt")).size(), 2);
    QCOMPARE(loadedStore(f.dir.path())->tables().folder(SentFolder).entries(), (QList<qint16>{1, 2, 4}));

    // The question lets events run. A retry moving the mail above it meanwhile: OK sends the mail asked about (3,
    // refused by the client); one moving the mail itself, or a dispatcher busy by then: nothing sent, panel 2 says so.
    MailTables& tables = f.store.tables();
    tables.folder(FailedFolder) = {2, {0, 4, 3}};
    tables.folder(SentFolder) = {2, {0, 1, 2}};
    tables.mail(3).Status = "ERRMessage9";
    f.window->RefreshLists();
    f.prompts.answers = QList<PromptAnswer>(3, PromptAnswer::Ok);
    const auto retryMoves = [&](qint16 pos) {
        return [&f, &tables, pos](const PromptRecorder::Asked&) {
            tables.MoveMail(pos, FailedFolder, SentFolder);
            tables.folder(FailedFolder).removeAt(pos);
            f.window->RefreshLists();
        };
    };
    f.prompts.onAsk = retryMoves(1);
    f.run(FailedFolder, 2, "Mnu_Err_Send");
    QVERIFY(done.wait(15000) && tables.mail(3).Status != "ERRMessage9" && sink.messages().size() == 2);
    tables.mail(3).Status = "ERRMessage9";
    f.prompts.onAsk = retryMoves(1);
    f.run(FailedFolder, 1, "Mnu_Err_Send");
    QVERIFY(f.window->panel(2)->text().startsWith(QStringLiteral("Die E-Mail (ID 3) steht nicht mehr in")));
    tables.folder(FailedFolder) = {1, {0, 3}};
    tables.folder(SentFolder) = {3, {0, 1, 2, 4}};
    f.window->RefreshLists();
    f.prompts.onAsk = [&f](const PromptRecorder::Asked&) { QVERIFY(f.window->dispatcher()->beginCommand()); };
    f.run(FailedFolder, 1, "Mnu_Err_Send");
    QVERIFY(f.window->panel(2)->text().contains(QStringLiteral("Gerade wird eine E-Mail bearbeitet.")));
    f.window->dispatcher()->endCommand({});
    QCOMPARE(sink.messages().size(), 2);
}

// Start, Stop and "Alle Senden abbrechen" only where they act. Stop ends "Alle Senden", the mail in hand cut short,
// counting what it left; "Beenden" asks, stops it and ends within two seconds, whatever a silent server does.
void TestFolderCommands::sendAllStops()
{
    SmtpSink sink;
    Fixture f(QList<int>(6, FailedFolder), sink.port());
    QSignalSpy done(f.window->dispatcher(), &Dispatcher::resendFinished);
    const std::pair<std::function<void()>, QByteArray> steps[] = {
        // Start, Stop, "Alle Senden abbrechen"; Command9
        {[] {}, "1000"},
        {[&f] { f.run(FailedFolder, 1, "Mnu_Err_SendAll"); }, "1010"},
        {[&f] { f.window->dispatcher()->StartProcessing(); }, "0111"},
        {[&f] { child<QPushButton>(*f.window, "Command9")->click(); }, "1000"}};
    for (const auto& [step, expected] : steps) {
        step();
        QByteArray on;
        for (const char* name : {"Mnu_File_Start", "Mnu_File_Stop", "Mnu_File_StopSendAll"})
            on += f.action(name)->isEnabled() ? '1' : '0';
        QCOMPARE(on + (child<QPushButton>(*f.window, "Command9")->isEnabled() ? '1' : '0'), expected);
    }
    f.prompts.answers = {PromptAnswer::Cancel}; // stopped, its mail still being filed: "Beenden" asks all the same
    QVERIFY(!f.window->close() && f.prompts.texts().last().startsWith(QStringLiteral("„Alle Senden“ läuft")));
    QVERIFY(done.wait(15000));
    QCOMPARE(f.window->panel(2)->text(),
             QStringLiteral("Alle Senden abgebrochen: 0 gesendet, 1 fehlgeschlagen, 5 nicht versucht."));

    ScriptedSmtpServer quiet; // greets, then says nothing
    quiet.reply("220 hi\r\n");
    f.store.settings().SmtpPort = qint16(quiet.port());
    QSignalSpy unloaded(f.window.get(), &Form1::unloaded);
    f.prompts.answers = {PromptAnswer::Ok};
    f.run(FailedFolder, 1, "Mnu_Err_SendAll");
    QTRY_VERIFY(quiet.received().contains("EHLO"));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!f.window->close() && unloaded.wait(15000) && clock.elapsed() < 2000);
    QCOMPARE(loadedStore(f.dir.path())->tables().count(FailedFolder), 6); // none sent, the rest untried
}

// Commands tell the retry schedule what they changed: renumbered, a mail waits on; edited or moved, no more.
void TestFolderCommands::retriesFollowCommands()
{
    Fixture f({DeletedFolder, FailedFolder, FailedFolder, FailedFolder});
    RetrySchedule schedule;
    for (const qint16 id : {2, 3, 4})
        schedule.failed(id, f.store.tables().mail(id), 0, true);
    QVERIFY(saveIni(f.dir.path(), {.retry = true}) &&
            saveRetryFile(f.dir.path(), schedule.toFile(0, QDateTime::currentMSecsSinceEpoch())));
    f.window = std::make_unique<Form1>(f.store, f.prompts, fastOptions()); // a start that reads the file
    f.window->load();
    const auto waiting = [&f] {
        QList<qint16> ids;
        for (const RetryFileEntry& e : loadRetryFile(f.dir.path()).value_or(RetryFileContent{}).entries)
            ids << e.id;
        return ids;
    };
    f.prompts.answers = {PromptAnswer::Ok};
    f.run(DeletedFolder, 1, "Mnu_T_Remove");
    QTRY_COMPARE_WITH_TIMEOUT(waiting(), (QList<qint16>{1, 2, 3}), 5000);
    f.run(FailedFolder, 1, "Mnu_Err_Edit");
    child<QLineEdit>(*f.window->commands()->editor(), "Text2")->setText(QStringLiteral("neu@example.com"));
    child<QPushButton>(*f.window->commands()->editor(), "Command1")->click();
    QCOMPARE(waiting(), (QList<qint16>{2, 3}));
    f.run(FailedFolder, 2, "Mnu_Err_Remove");
    QCOMPARE(waiting(), QList<qint16>{3});
}

// Several mails at once: one question and one step for 100, each back where it came from after a restart, failed ones
// resent as one run, saved as files whose names do not collide.
void TestFolderCommands::severalAtOnce()
{
    SmtpSink sink;
    QList<int> folders(100, SentFolder);
    folders << FailedFolder << FailedFolder << FailedFolder; // 101 … 103
    Fixture f(folders, sink.port());
    f.window->list(SentFolder)->selectAll();
    Q_EMIT f.window->contextMenu(SentFolder)->aboutToShow();
    QVERIFY(!f.action("Mnu_O_Open")->isEnabled());
    f.prompts.ticks = {true};
    f.action("Mnu_O_Remove")->trigger();
    QCOMPARE(f.prompts.texts(), QStringList{QStringLiteral("100 E-Mails in „Gelöschte Objekte“ verschieben?")});
    QCOMPARE(f.window->panel(2)->text(), QStringLiteral("100 E-Mails verschoben."));
    QVERIFY(f.rows(SentFolder).isEmpty() && f.rows(DeletedFolder).size() == 100 && f.diskMatches());
    f.run(FailedFolder, 1, "Mnu_Err_Remove"); // "nicht mehr fragen", kept in kadmel.ini
    QVERIFY(f.prompts.asked.size() == 1 && !loadIni(f.dir.path()).askBeforeRemoving);

    // A restart reads where each came from; all restored, kadmel.herkunft goes.
    const QString exported = f.dir.filePath(QStringLiteral("Export"));
    QVERIFY(QDir().mkpath(exported));
    MainWindowOptions options = fastOptions();
    options.folderPicker = [exported](QWidget*) { return exported; };
    f.window.reset();
    f.store.loadAtStartup();
    f.window = std::make_unique<Form1>(f.store, f.prompts, options);
    f.window->load();
    f.window->list(DeletedFolder)->selectAll();
    f.action("Mnu_T_Restore")->trigger();
    QCOMPARE(f.window->panel(2)->text(), QStringLiteral("101 E-Mails wiederhergestellt: 100 in „Gesendete Objekte“, "
                                                        "1 in „Fehlgeschl. Objekte“."));
    QVERIFY(f.rows(SentFolder).size() == 100 && f.rows(FailedFolder) == (QList<qint16>{102, 103, 101}));
    QVERIFY(f.diskMatches() && !QFile::exists(originFilePathIn(f.dir.path())));

    // Two of the three failed mails go as one run; Bearbeiten waits for a single mail.
    QTableView* failed = f.window->list(FailedFolder);
    failed->selectRow(0);
    failed->selectionModel()->select(failed->model()->index(2, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Q_EMIT f.window->contextMenu(FailedFolder)->aboutToShow();
    QVERIFY(!f.action("Mnu_Err_Edit")->isEnabled());
    QSignalSpy done(f.window->dispatcher(), &Dispatcher::resendFinished);
    f.action("Mnu_Err_Send")->trigger();
    QVERIFY(done.wait(15000) && sink.messages().size() == 2 && f.rows(FailedFolder) == QList<qint16>{103});
    QCOMPARE(f.window->panel(2)->text(), QStringLiteral("Alle Senden: 2 gesendet, 0 fehlgeschlagen."));

    f.store.tables().mail(1).Subject = "Gleich";
    f.store.tables().mail(2).Subject = "Gleich";
    f.window->list(SentFolder)->selectRow(0);
    f.window->list(SentFolder)
        ->selectionModel()
        ->select(f.window->list(SentFolder)->model()->index(1, 0),
                 QItemSelectionModel::Select | QItemSelectionModel::Rows);
    f.action("Mnu_O_SaveAs")->trigger();
    QCOMPARE(QDir(exported).entryList(QDir::Files),
             (QStringList{QStringLiteral("Gleich (2).eml"), QStringLiteral("Gleich.eml")}));
    QCOMPARE(f.window->panel(2)->text(), QStringLiteral("2 E-Mails gespeichert in „Export“"));
}

// Positions and counts at the 16-bit limit: 32767 mails in one folder at each step, one removed for good renumbers all.
void TestFolderCommands::fullStore()
{
    QList<int> folders(MaxMails, SentFolder);
    folders[MaxMails - 2] = folders[MaxMails - 1] = FailedFolder;
    SmtpSink sink;
    Fixture f(folders, sink.port());
    QCOMPARE(f.store.tables().createMail({}), std::nullopt);
    for (const int folder : {SentFolder, FailedFolder, DeletedFolder})
        QCOMPARE(f.rows(folder), f.store.tables().folder(folder).entries());
    QSignalSpy resent(f.window->dispatcher(), &Dispatcher::resendFinished);
    f.run(FailedFolder, 1, "Mnu_Err_SendAll");
    QVERIFY(resent.wait(15000) && sink.messages().size() == 2);
    QCOMPARE(f.window->node(3)->text(0), QStringLiteral("Gesendete Objekte  (32767)"));

    // Typed into the search row (Ctrl+F) and cleared with Esc, over every mail sorted by subject, with no stall a
    // person feels: first under the model testers, then timed without them (their checks are the test's cost).
    QTableView* sentList = f.window->list(SentFolder);
    QVERIFY(QTest::qWaitForWindowActive(f.window.get()));
    QTest::keyClick(f.window.get(), Qt::Key_F, Qt::ControlModifier);
    QWidget* search = QApplication::focusWidget();
    QVERIFY(search && search->objectName() == QStringLiteral("SearchText"));
    sentList->sortByColumn(FolderListModel::SubjectColumn, Qt::AscendingOrder);
    QTest::keyClicks(search, QStringLiteral("Mail 3276"));
    QTest::keyClick(search, Qt::Key_Escape);
    qDeleteAll(f.window->findChildren<QAbstractItemModelTester*>());
    EventLoopGap gap;
    for (const QChar c : QStringLiteral("mAIL 3276")) {
        QTest::keyClick(search, c.toLatin1());
        QTest::qWait(10);
    }
    QCOMPARE(sentList->model()->rowCount(), 9); // "Mail 3276" and "Mail 32760" … "Mail 32767"
    QTest::keyClick(search, Qt::Key_Escape);
    QTest::qWait(10);
    QVERIFY2(gap.longestMs() < StallLimitMs, qPrintable(QString::number(gap.longestMs())));
    QCOMPARE(sentList->model()->rowCount(), int(MaxMails));
    sentList->sortByColumn(-1, Qt::AscendingOrder);

    f.run(SentFolder, MaxMails, "Mnu_O_Remove");
    f.run(SentFolder, 1, "Mnu_O_RemoveAll");
    QCOMPARE(f.rows(DeletedFolder).size(), int(MaxMails));
    QSignalSpy removed(f.window->commands(), &FolderCommands::removeFinished);
    f.prompts.answers = {PromptAnswer::Ok, PromptAnswer::Ok};
    f.run(DeletedFolder, 2, "Mnu_T_Remove"); // mail 1, below the last mail moved
    QVERIFY(removed.wait(120000) && f.rows(DeletedFolder).first() == MaxMails - 1);
    FolderListModel* deleted = f.window->listModel(DeletedFolder);
    QCOMPARE(deleted->data(deleted->index(0, FolderListModel::SubjectColumn)), QStringLiteral("Mail 32767"));
    f.run(DeletedFolder, MaxMails - 1, "Mnu_T_RemoveAll");
    QVERIFY(removed.wait(120000) && f.store.tables().MailCount() == 0 && f.diskMatches());
}

QTEST_MAIN(TestFolderCommands)
#include "tst_foldercommands.moc"
