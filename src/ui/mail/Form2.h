#pragma once

#include "store/MailRecord.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QTextEdit;

namespace kadmel {

// The mail viewer: header, body and the SMTP conversation of one stored mail. It only displays.
// The opener fills it with showMail() and runs it modally; each opening uses a new instance.
class Form2 : public QDialog
{
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Caption, header labels, body and conversation of the mail with this ID.
    void showMail(const MailRecord& mail, qint16 id);

    // Appends a conversation text at the end: grey for CSNo 1 (received), white otherwise (sent).
    void PrintText(const QByteArray& sData, qint16 CSNo);

    // 0 "Versandinhalt" (the body), 1 "Versandablauf" (the conversation).
    void selectTab(int index);

Q_SIGNALS:
    // "Als E-Mail-Datei speichern…" for the mail shown.
    void saveRequested(qint16 id);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();

    QString m_header; // Label1's whole text

    QLabel* m_label2;
    QLabel* m_label1;
    QFrame* m_tabStrip;
    QTabBar* m_tabBar;
    QPlainTextEdit* m_text1;
    QTextEdit* m_rtb;
    QPushButton* m_save;
    qint16 m_id = 0;
};

} // namespace kadmel
