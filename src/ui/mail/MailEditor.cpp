#include "ui/mail/MailEditor.h"

#include "store/Ansi.h"
#include "store/MailExtras.h"
#include "ui/mail/AttachmentText.h"
#include "ui/mail/MailFonts.h"
#include "ui/mail/MailPictures.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>

namespace kadmel {
namespace {

// Places in pixels (15 twips each); the fields lie inside Frame1. Wider than the first design, so that
// a real address (a department's at a company's domain) shows whole.
constexpr int Wider = 160;
constexpr QSize DialogSize(313 + Wider, 137);
constexpr int AttachmentsTop = 101; // below Frame1
constexpr int AttachmentRowsShown = 3;

QLineEdit* field(QWidget* parent, const QString& name, const QRect& place)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(place);
    return edit;
}

void caption(QWidget* parent, const QString& name, const QString& text, int top, int width)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(8, top + 2, width, 17);
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text, int left)
{
    auto* push = new QPushButton(text, parent);
    push->setObjectName(name);
    push->setGeometry(left, 104, 81, 25);
    return push;
}

} // namespace

frmMailEdit::frmMailEdit(MailEditTarget& target, QWidget* parent)
    : QDialog(parent), m_target(target), m_frame1(new QFrame(this)), m_text1(nullptr), m_text2(nullptr),
      m_text3(nullptr), m_command1(button(this, QStringLiteral("Command1"), QStringLiteral("OK"), 136 + Wider)),
      m_command2(button(this, QStringLiteral("Command2"), QStringLiteral("Abbrechen"), 224 + Wider)),
      m_error(new QLabel(this)), m_attachments(new QListWidget(this)),
      m_dropAttachment(new QPushButton(QStringLiteral("Anhang entfernen"), this))
{
    initMailPictures();
    setWindowTitle(QStringLiteral("Bearbeiten"));
    setModal(true);
    setFixedSize(DialogSize);
    setFont(labelFont(false)); // the places are made for the classic 8.25 pt dialog font

    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setFrameShape(QFrame::StyledPanel);
    m_frame1->setGeometry(8, 0, 297 + Wider, 97);
    // The captions as wide as the longest in this font, and a gap before the fields.
    const int captionWidth = fontMetrics().horizontalAdvance(QStringLiteral("Absender:")) + 2;
    const int left = 8 + captionWidth + 6;
    caption(m_frame1, QStringLiteral("Label1"), QStringLiteral("Absender:"), 16, captionWidth);
    caption(m_frame1, QStringLiteral("Label2"), QStringLiteral("An:"), 40, captionWidth);
    caption(m_frame1, QStringLiteral("Label3"), QStringLiteral("Betreff:"), 64, captionWidth);
    const int imageLeft = 248 + Wider;
    m_text1 = field(m_frame1, QStringLiteral("Text1"), QRect(left, 16, imageLeft - 7 - left, 19));
    m_text2 = field(m_frame1, QStringLiteral("Text2"), QRect(left, 40, imageLeft - 7 - left, 19));
    m_text3 = field(m_frame1, QStringLiteral("Text3"), QRect(left, 64, m_frame1->width() - 8 - left, 19));
    auto* image1 = new QLabel(m_frame1);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setGeometry(imageLeft, 16, 40, 40);
    image1->setScaledContents(true);
    image1->setPixmap(QPixmap(MailPicture::edit()));

    // Room left of the buttons for a failed save's reason.
    m_error->setObjectName(QStringLiteral("ErrorText"));
    m_error->setGeometry(8, 99, 124 + Wider, 36);
    m_error->setWordWrap(true);
    m_error->setTextFormat(Qt::PlainText);
    QFont small = labelFont(false);
    small.setPointSizeF(7);
    m_error->setFont(small);
    QPalette red = m_error->palette();
    red.setColor(QPalette::WindowText,
                 readableOn(red.color(QPalette::Window), QColor(192, 0, 0), QColor(255, 130, 130)));
    m_error->setPalette(red);
    m_error->hide();

    // "OK", "Abbrechen", the frame (which takes no focus), then subject, recipient, sender.
    setTabOrder(m_command1, m_command2);
    setTabOrder(m_command2, m_text3);
    setTabOrder(m_text3, m_text2);
    setTabOrder(m_text2, m_text1);
    m_command1->setDefault(true);
    m_command1->setFocus();

    m_attachments->setObjectName(QStringLiteral("Attachments"));
    m_attachments->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff); // a long name ends in "…"
    m_attachments->setTextElideMode(Qt::ElideMiddle);                    // and keeps its extension
    m_attachments->hide();
    m_dropAttachment->setObjectName(QStringLiteral("DropAttachment"));
    m_dropAttachment->setAutoDefault(false);
    m_dropAttachment->hide();
    connect(m_dropAttachment, &QPushButton::clicked, this, &frmMailEdit::dropAttachment);

    connect(m_command1, &QPushButton::clicked, this, &frmMailEdit::saveAndClose);
    connect(m_command2, &QPushButton::clicked, this, &QDialog::reject);
}

bool frmMailEdit::openMail(qint16 id)
{
    const MailRecord* mail = m_target.mailRecord(id);
    if (!mail)
        return false;
    setWindowTitle(QStringLiteral("Bearbeiten (ID=%1)").arg(id));
    setMailID(QString::number(id));
    m_text1->setText(fromAnsi(mail->From));
    m_text2->setText(fromAnsi(mail->To));
    m_text3->setText(fromAnsi(mail->Subject));
    for (QLineEdit* field : {m_text1, m_text2, m_text3})
        field->setCursorPosition(0); // a long address shows its start, not its end
    showAttachments(m_target.attachments(*mail));
    return true;
}

void frmMailEdit::showAttachments(const QList<AttachmentInfo>& attachments)
{
    m_attachments->clear();
    m_kept.clear();
    m_listed = int(attachments.size());
    for (const AttachmentInfo& attachment : attachments) {
        m_kept.append(int(m_kept.size()));
        auto* item = new QListWidgetItem(fromAnsi(attachment.name), m_attachments);
        item->setToolTip(attachmentLine(attachment));
    }
    // Without attachments the dialog keeps its design; with them a row for their list below the fields.
    int extra = 0;
    if (!attachments.isEmpty()) {
        m_attachments->setCurrentRow(0);
        const int rowHeight = std::max(m_attachments->sizeHintForRow(0), m_attachments->fontMetrics().height());
        const int listHeight =
            std::max(25, int(std::min<qsizetype>(attachments.size(), AttachmentRowsShown)) * rowHeight +
                             2 * m_attachments->frameWidth());
        m_dropAttachment->adjustSize();
        const int buttonWidth = std::max(m_dropAttachment->width(), 81);
        m_dropAttachment->setGeometry(DialogSize.width() - 8 - buttonWidth, AttachmentsTop, buttonWidth, 25);
        m_attachments->setGeometry(8, AttachmentsTop, DialogSize.width() - 20 - buttonWidth, listHeight);
        extra = listHeight + 4;
    }
    m_attachments->setVisible(!attachments.isEmpty());
    m_dropAttachment->setVisible(!attachments.isEmpty());
    for (QWidget* below :
         {static_cast<QWidget*>(m_command1), static_cast<QWidget*>(m_command2), static_cast<QWidget*>(m_error)})
        below->move(below->x(), (below == m_error ? 99 : 104) + extra);
    setFixedSize(DialogSize + QSize(0, extra));
}

void frmMailEdit::dropAttachment()
{
    const int row = m_attachments->currentRow();
    if (row < 0 || row >= m_kept.size())
        return;
    m_kept.removeAt(row);
    delete m_attachments->takeItem(row);
    m_dropAttachment->setEnabled(!m_kept.isEmpty());
}

void frmMailEdit::setMailID(const QString& pMID)
{
    m_mailId = pMID.trimmed().toShort();
}

void frmMailEdit::saveAndClose()
{
    MailRecord* mail = m_target.mailRecord(m_mailId);
    if (!mail) {
        showError(QStringLiteral("Die E-Mail (ID=%1) ist nicht mehr vorhanden.").arg(m_mailId));
        return;
    }
    const MailRecord before = *mail;
    mail->From = toAnsi(m_text1->text());
    mail->To = toAnsi(m_text2->text());
    mail->Subject = toAnsi(m_text3->text());
    // From the last, so the indices of those before stay valid.
    for (int index = m_listed - 1; index >= 0; --index) {
        if (!m_kept.contains(index))
            forgetAttachment(*mail, index);
    }
    // An edited mail is another mail to its recipient: it gets a new Message-ID at its next attempt.
    if (mail->From != before.From || mail->To != before.To || mail->Subject != before.Subject ||
        m_kept.size() != m_listed)
        setMessageId(*mail, {}); // its copies and reply address stay
    QString error;
    if (!m_target.saveAll(&error)) {
        // The record goes back to what the files hold; the typed texts stay for another try.
        *mail = before;
        showError(QStringLiteral("Speichern fehlgeschlagen: %1").arg(error));
        return;
    }
    Q_EMIT saved(m_mailId);
    accept();
}

void frmMailEdit::showError(const QString& text)
{
    m_error->setText(text);
    m_error->show();
}

} // namespace kadmel
