#include "ui/mail/MailEditor.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace kadmel;

namespace {

// Three mails in memory; a save can be made to fail with a reason.
class RecordingTarget : public MailEditTarget
{
public:
    RecordingTarget()
    {
        for (int id = 1; id <= 3; ++id) {
            MailRecord mail;
            mail.From = "von" + QByteArray::number(id) + "@example.com";
            mail.To = "an" + QByteArray::number(id) + "@example.com";
            mail.Subject = "Betreff " + QByteArray::number(id);
            mail.Body = "Text";
            mails.append(mail);
        }
    }
    MailRecord* mailRecord(qint16 id) override { return id >= 1 && id <= mails.size() ? &mails[id - 1] : nullptr; }
    bool saveAll(QString* error) override
    {
        ++saves;
        if (failure.isEmpty())
            return true;
        *error = failure;
        return false;
    }

    QList<MailRecord> mails;
    int saves = 0;
    QString failure;
};

QLineEdit* field(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QLineEdit*>(QLatin1String(name));
}

QPushButton* button(const QWidget& dialog, const char* name)
{
    return dialog.findChild<QPushButton*>(QLatin1String(name));
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
    {
        frmMailEdit editor(target);
        QVERIFY(!editor.openMail(4));
        QCOMPARE(editor.windowTitle(), QStringLiteral("Bearbeiten"));
        QVERIFY(editor.openMail(2));
        QCOMPARE(editor.windowTitle(), QStringLiteral("Bearbeiten (ID=2)"));
        QCOMPARE(editor.MailID(), qint16(2));
        QCOMPARE(field(editor, "Text1")->text(), QStringLiteral("von2@example.com"));
        QCOMPARE(field(editor, "Text2")->text(), QStringLiteral("an2@example.com"));
        QCOMPARE(field(editor, "Text3")->text(), QStringLiteral("Betreff 2"));

        QSignalSpy saved(&editor, &frmMailEdit::saved);
        field(editor, "Text1")->setText(QStringLiteral("\u03A9mega@example.com")); // no Windows-1252 Omega
        field(editor, "Text2")->setText(QStringLiteral("neu@example.com"));
        field(editor, "Text3")->setText(QStringLiteral("Gr\u00FC\u00DFe \u20AC"));
        QTest::mouseClick(button(editor, "Command1"), Qt::LeftButton);
        QCOMPARE(saved.count(), 1);
        QCOMPARE(saved.at(0).at(0).value<qint16>(), qint16(2));
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QCOMPARE(target.saves, 1);
        QCOMPARE(target.mails[1].From, QByteArray("?mega@example.com"));
        QCOMPARE(target.mails[1].To, QByteArray("neu@example.com"));
        QCOMPARE(target.mails[1].Subject, QByteArray("Gr\xFC\xDF"
                                                     "e \x80"));
        QCOMPARE(target.mails[1].Body, QByteArray("Text"));
        QCOMPARE(target.mails[0].To, QByteArray("an1@example.com"));
    }
    {
        // Unchanged fields still write the whole store.
        frmMailEdit editor(target);
        QVERIFY(editor.openMail(3));
        QTest::mouseClick(button(editor, "Command1"), Qt::LeftButton);
        QCOMPARE(target.saves, 2);
        QCOMPARE(target.mails[2].Subject, QByteArray("Betreff 3"));
    }
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
        if (byFrame)
            editor.close();
        else
            QTest::mouseClick(button(editor, "Command2"), Qt::LeftButton);
        QVERIFY(!editor.isVisible());
        QCOMPARE(editor.result(), int(QDialog::Rejected));
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
    QTest::mouseClick(button(editor, "Command1"), Qt::LeftButton);

    // The record matches the files again, the dialog stays open with the reason and the typed text.
    QCOMPARE(target.saves, 1);
    QCOMPARE(target.mails[0], before);
    QCOMPARE(saved.count(), 0);
    QVERIFY(editor.isVisible());
    const auto* error = editor.findChild<QLabel*>(QStringLiteral("ErrorText"));
    QVERIFY(error->isVisible());
    QCOMPARE(error->text(), QStringLiteral("Speichern fehlgeschlagen: Kein Platz auf dem Datentr\u00E4ger."));
    QCOMPARE(field(editor, "Text2")->text(), QStringLiteral("neu@example.com"));

    // Once the disk has room again, the same OK goes through.
    target.failure.clear();
    QTest::mouseClick(button(editor, "Command1"), Qt::LeftButton);
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
