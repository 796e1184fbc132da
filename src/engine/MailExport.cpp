#include "engine/MailExport.h"

#include "engine/ByteText.h"
#include "engine/HtmlBody.h"
#include "smtp/Base64.h"
#include "store/Ansi.h"
#include "store/ArchiveFiles.h"
#include "store/DeliveryOutcome.h"
#include "store/KadmelIni.h"
#include "store/MailAttachments.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

namespace kadmel {

SmtpMail smtpMailOf(const MailRecord& record, qint16 id)
{
    SmtpMail mail;
    mail.MailID = id;
    mail.MailRecipientEMail = fieldValue(record.To);
    mail.MailSenderEMail = fieldValue(record.From);
    mail.MailSubject = fieldValue(record.Subject);
    if (isMessageId(messageIdOf(record)))
        mail.MailMessageId = messageIdOf(record);
    const MailExtras extras = extrasOf(record);
    mail.MailCopyTo = extras.copyTo;
    mail.MailBlindCopyTo = extras.blindCopyTo;
    mail.MailReplyTo = extras.replyTo;
    return mail;
}

bool attachFiles(SmtpMail& mail, const QString& programFolder, const MailRecord& record, bool encode, QString* error)
{
    const QList<AttachmentInfo> infos = attachmentsOf(programFolder, record);
    for (int i = 0; i < infos.size(); ++i) {
        MailAttachment file{infos[i].name, {}};
        if (!readAttachment(programFolder, record, i, file.bytes, error))
            return false;
        if (encode)
            file.base64 = Encode(file.bytes);
        mail.MailAttachments.append(std::move(file));
    }
    return true;
}

std::optional<QByteArray> mailAsFile(Store& store, qint16 id, QString* error)
{
    const MailRecord& record = store.tables().mail(id);
    if (isResult(record.Status, ResultCode::Sent)) {
        const QString archive = store.kadmelIni().read().archiveFolder.path();
        const QDate day = dateOfText(record.Date).date();
        if (!archive.isEmpty() && isMessageId(messageIdOf(record))) {
            if (std::optional<QByteArray> copy = findArchivedCopy(archive, day, messageIdOf(record)))
                return copy;
        }
        if (const QByteArray sent = storedOutcome(record).message; !sent.isEmpty())
            return sent;
    }
    SmtpMail mail = smtpMailOf(record, id);
    if (mail.MailMessageId.isEmpty()) // the one its next attempt gets is made then
        mail.MailMessageId = NewMessageId(fieldValue(record.From));
    mail.MailBody = ComposeHtmlBody(record.Body);
    if (!attachFiles(mail, store.programFolder(), record, false, error))
        return std::nullopt;
    if (const QByteArray problem = headerProblem(mail); !problem.isEmpty()) {
        *error = fromAnsi(problem);
        return std::nullopt;
    }
    return withoutEndOfData(ComposeMessage(mail, QDateTime::currentDateTime()));
}

} // namespace kadmel
