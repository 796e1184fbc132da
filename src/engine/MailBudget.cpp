#include "engine/MailBudget.h"

#include "engine/HtmlBody.h"
#include "smtp/Base64.h"
#include "smtp/Message.h"
#include "smtp/ReplyFramer.h"
#include "store/MailExtras.h"
#include "store/MailFile.h"

namespace kadmel {

qint64 projectedMailFileSize(const MailRecord& record, const Settings& settings)
{
    SmtpMail header; // without a body: its Base64 form is added by size
    header.MailSenderEMail = record.From;
    header.MailRecipientEMail = record.To;
    header.MailSubject = record.Subject;
    const MailExtras extras = extrasOf(record);
    header.MailCopyTo = extras.copyTo;
    header.MailReplyTo = extras.replyTo;
    // The Message-ID it has, or one as long as the one it will get (saved in the record as well).
    const QByteArray id = messageIdOf(record);
    header.MailMessageId = isMessageId(id) ? id : NewMessageId(fieldValue(record.From));
    const qint64 message =
        ComposeMessage(header, QDateTime::currentDateTime()).size() + EncodedSize(ComposedHtmlSize(record.Body));

    // Every command holds at most the server name, the user's Base64 or one address, a handful of each;
    // the status code and the length fields of a hundred log entries fit well in the fixed part.
    const qint64 commands = 4 * (settings.SmtpServer.size() + 2 * settings.SmtpUser.size() + record.From.size() +
                                 record.To.size() + record.Reserved.size() - id.size()) +
                            64 * 1024;
    MailRecord logged = record;
    logged.Log.reset();
    setMessageId(logged, header.MailMessageId);
    return encodedMailRecordSize(logged) + encodedStringSize(message) + commands + ReplyFramer::MaxConversationBytes;
}

} // namespace kadmel
