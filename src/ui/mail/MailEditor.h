#pragma once

#include "ui/mail/MailEditTarget.h"

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace kadmel {

// The mail editor: sender, recipient and subject of a failed mail, corrected before a resend.
// "OK" writes the three texts into the record and saves the whole store; "Abbrechen" and the
// window frame change nothing. Its attachments are listed below the fields; "Anhang entfernen" drops one
// at "OK".
class frmMailEdit : public QDialog
{
    Q_OBJECT
public:
    explicit frmMailEdit(MailEditTarget& target, QWidget* parent = nullptr);

    // Caption "Bearbeiten (ID=…)", MailID and the three fields from the mail's record.
    // False (nothing filled) when the store holds no such mail.
    bool openMail(qint16 id);

    // The ID as text, converted to a 16-bit integer (0 when it is not a number).
    void setMailID(const QString& pMID);
    qint16 MailID() const { return m_mailId; }

Q_SIGNALS:
    // The record now holds the new texts and the store is written: the list row can follow.
    void saved(qint16 id);

private:
    void saveAndClose();
    void showAttachments(const QList<AttachmentInfo>& attachments);
    void dropAttachment();
    void showError(const QString& text);

    MailEditTarget& m_target;
    qint16 m_mailId = 0;
    QFrame* m_frame1;
    QLineEdit* m_text1;
    QLineEdit* m_text2;
    QLineEdit* m_text3;
    QPushButton* m_command1;
    QPushButton* m_command2;
    QLabel* m_error;
    QListWidget* m_attachments;
    QPushButton* m_dropAttachment;
    QList<int> m_kept; // the record's indices of the attachments still listed
    int m_listed = 0;  // how many the record had at the opening
};

} // namespace kadmel
