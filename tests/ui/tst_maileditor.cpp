#include "ui/mail/MailEditor.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace kadmel;

namespace {

// Two mails in memory; a save fails with `failure` while it is set.
struct RecordingTarget : MailEditTarget
{
    QList<MailRecord> mails{{{}, {}, "von1@example.com", "an1@example.com", "Betreff 1", "Text", {}, {}, {}},
                            {{}, {}, "von2@example.com", "an2@example.com", "Betreff 2", "Text", {}, {}, {}}};
    int saves = 0;
    QString failure;

    MailRecord* mailRecord(qint16 id) override { return id >= 1 && id <= mails.size() ? &mails[id - 1] : nullptr; }
    bool saveAll(QString* error) override
    {
        ++saves;
        *error = failure;
        return failure.isEmpty();
    }
};

QLineEdit* field(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QLineEdit*>(QLatin1String(name));
}

void click(const QWidget& dialog, const char* name)
{
    QTest::mouseClick(dialog.findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
}

} // namespace

class tst_MailEditor : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void okWritesRecordAndSaves();
    void cancelAndFrameChangeNothing();
    void failedSaveKeepsRecord();
    void tabOrder();
};

void tst_MailEditor::okWritesRecordAndSaves()
{
    RecordingTarget target;
    frmMailEdit editor(target);
    QSignalSpy saved(&editor, &frmMailEdit::saved);
    QVERIFY(editor.openMail(2));
    QCOMPARE(editor.windowTitle(), QStringLiteral("Bearbeiten (ID=2)"));
    QCOMPARE(editor.MailID(), qint16(2));
    QCOMPARE(
        (QStringList{field(editor, "Text1")->text(), field(editor, "Text2")->text(), field(editor, "Text3")->text()}),
        (QStringList{QStringLiteral("von2@example.com"), QStringLiteral("an2@example.com"),
                     QStringLiteral("Betreff 2")}));

    field(editor, "Text1")->setText(QStringLiteral("\u03A9mega@example.com")); // Windows-1252 has no Omega
    field(editor, "Text2")->setText(QStringLiteral("neu@example.com"));
    field(editor, "Text3")->setText(QStringLiteral("Gr\u00FC\u00DFe \u20AC"));
    click(editor, "Command1");
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.at(0).at(0).value<qint16>(), qint16(2));
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QCOMPARE(target.saves, 1);
    QCOMPARE(target.mails[1].From, QByteArray("?mega@example.com"));
    QCOMPARE(target.mails[1].To, QByteArray("neu@example.com"));
    QCOMPARE(target.mails[1].Subject, QByteArray("Gr\xFC\xDF"
                                                 "e \x80"));
    QCOMPARE(target.mails[0].To, QByteArray("an1@example.com"));

    // Unchanged fields still write the whole store.
    frmMailEdit again(target);
    QVERIFY(again.openMail(1));
    click(again, "Command1");
    QCOMPARE(target.saves, 2);
}

void tst_MailEditor::cancelAndFrameChangeNothing()
{
    RecordingTarget target;
    const QList<MailRecord> before = target.mails;
    for (const bool byFrame : {false, true}) {
        frmMailEdit editor(target);
        QSignalSpy saved(&editor, &frmMailEdit::saved);
        QVERIFY(editor.openMail(1));
        editor.show();
        field(editor, "Text2")->setText(QStringLiteral("anders@example.com"));
        byFrame ? void(editor.close()) : click(editor, "Command2");
        QVERIFY(!editor.isVisible());
        QCOMPARE(saved.count(), 0);
    }
    QCOMPARE(target.saves, 0);
    QCOMPARE(target.mails, before);
}

void tst_MailEditor::failedSaveKeepsRecord()
{
    RecordingTarget target;
    target.failure = QStringLiteral("Kein Platz auf dem Datentr\u00E4ger.");
    const MailRecord before = target.mails[0];
    frmMailEdit editor(target);
    QSignalSpy saved(&editor, &frmMailEdit::saved);
    QVERIFY(editor.openMail(1));
    editor.show();
    field(editor, "Text2")->setText(QStringLiteral("neu@example.com"));
    click(editor, "Command1");

    // The record matches the files again; the dialog stays open with the reason and the typed text.
    QCOMPARE(target.mails[0], before);
    QCOMPARE(saved.count(), 0);
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.findChild<QLabel*>(QStringLiteral("ErrorText"))->text(),
             QStringLiteral("Speichern fehlgeschlagen: Kein Platz auf dem Datentr\u00E4ger."));

    target.failure.clear(); // room again: the same OK goes through
    click(editor, "Command1");
    QCOMPARE(saved.count(), 1);
    QCOMPARE(target.mails[0].To, QByteArray("neu@example.com"));
}

void tst_MailEditor::tabOrder()
{
    RecordingTarget target;
    frmMailEdit editor(target);
    QVERIFY(editor.openMail(1));
    editor.show();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(visited, (QStringList{QStringLiteral("Command1"), QStringLiteral("Command2"), QStringLiteral("Text3"),
                                   QStringLiteral("Text2"), QStringLiteral("Text1"), QStringLiteral("Command1")}));
}

QTEST_MAIN(tst_MailEditor)
#include "tst_maileditor.moc"
