#pragma once

#include "store/MailAttachments.h"
#include "store/MailRecord.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabBar;
class QTextEdit;
class QTreeWidget;

namespace kadmel {

// The mail viewer: header, body and the SMTP conversation of one stored mail. It only displays.
// The opener fills it with showMail() and runs it modally; each opening uses a new instance.
class Form2 : public QDialog
{
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    // Caption, header labels, body and conversation of the mail with this ID; its attachments in a list
    // below the header (none: no list, the design's layout).
    void showMail(const MailRecord& mail, qint16 id, const QList<AttachmentInfo>& attachments = {});

    // Appends a conversation text at the end: grey for CSNo 1 (received), white otherwise (sent).
    void PrintText(const QByteArray& sData, qint16 CSNo);

    // 0 "Versandinhalt" (the body), 1 "Versandablauf" (the conversation).
    void selectTab(int index);

Q_SIGNALS:
    // "Als E-Mail-Datei speichern…" for the mail shown.
    void saveRequested(qint16 id);
    // "Anhang speichern…" for the attachment at this index of the list.
    void attachmentSaveRequested(qint16 id, int index);

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layOut();
    void requestAttachmentSave();

    QString m_header; // Label1's whole text

    QLabel* m_label2;
    QLabel* m_label1;
    QFrame* m_tabStrip;
    QTabBar* m_tabBar;
    QPlainTextEdit* m_text1;
    QTextEdit* m_rtb;
    QPushButton* m_save;
    QTreeWidget* m_attachments;
    QPushButton* m_saveAttachment;
    qint16 m_id = 0;
};

} // namespace kadmel
