#include "store/MailExtras.h"

namespace kadmel {
namespace {

// A value never holds "@@": a job's value ends before the next one.
QByteArray field(const char* marker, const QByteArray& value)
{
    return value.isEmpty() ? QByteArray() : marker + (' ' + value);
}

} // namespace

QByteArray messageIdOf(const MailRecord& record)
{
    const qsizetype end = record.Reserved.indexOf("@@");
    return end < 0 ? record.Reserved : record.Reserved.left(end);
}

MailExtras extrasOf(const MailRecord& record)
{
    MailExtras extras;
    const qsizetype start = record.Reserved.indexOf("@@");
    if (start < 0)
        return extras;
    for (qsizetype at = start; at >= 0;) {
        const qsizetype next = record.Reserved.indexOf("@@", at + 2);
        const QByteArray piece = record.Reserved.mid(at + 2, next < 0 ? -1 : next - at - 2);
        at = next;
        const QByteArray marker = piece.left(2), value = piece.mid(3);
        if (marker == "CC")
            extras.copyTo = value;
        else if (marker == "BC")
            extras.blindCopyTo = value;
        else if (marker == "RT")
            extras.replyTo = value;
        else if (marker == "AN")
            extras.attachments.append(value);
        else if (marker == "JN")
            extras.jobName = value;
        else if (marker == "EG")
            extras.entered = value;
        else
            extras.others += "@@" + piece;
    }
    return extras;
}

void setMessageId(MailRecord& record, const QByteArray& messageId)
{
    const qsizetype end = record.Reserved.indexOf("@@");
    record.Reserved = messageId + (end < 0 ? QByteArray() : record.Reserved.mid(end));
}

void setExtras(MailRecord& record, const MailExtras& extras)
{
    QByteArray attachments;
    for (const QByteArray& attachment : extras.attachments)
        attachments += field("@@AN", attachment);
    record.Reserved = messageIdOf(record) + field("@@CC", extras.copyTo) + field("@@BC", extras.blindCopyTo) +
                      field("@@RT", extras.replyTo) + attachments + field("@@JN", extras.jobName) +
                      field("@@EG", extras.entered) + extras.others;
}

} // namespace kadmel
