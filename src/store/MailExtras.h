#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QList>

namespace kadmel {

// A record's Reserved holds the mail's Message-ID, then the job's fields beyond sender, recipient and subject,
// each as "@@", its two letters, a blank and the value: "<…@…>@@CC max@example.org@@RT info@firma.de". The
// mail file keeps its layout; a version that knows only the Message-ID takes such a text for none.
struct MailExtras
{
    QByteArray copyTo;      // "@@CC"
    QByteArray blindCopyTo; // "@@BC"
    QByteArray replyTo;     // "@@RT"
    // "@@AN" per file of the job, as the intake copied it into the store's "Anhaenge/" folder: the copy's
    // name (16 hex digits), a blank, the producer's path of the file (AttachmentCopies.h).
    QList<QByteArray> attachments = {};
    // "@@JN": the name of the job file the mail came from, so that a start can tell its job from a new one
    // should a kill have left the job behind.
    QByteArray jobName = {};
    // "@@EG": when the job came in, "dd.MM.yyyy HH:mm:ss", set once by the intake; Date is the last attempt's.
    // Empty for a mail from before it was kept.
    QByteArray entered = {};
    QByteArray others = {}; // fields of markers this version does not know, kept as they stand

    friend bool operator==(const MailExtras&, const MailExtras&) = default;
};

QByteArray messageIdOf(const MailRecord& record);
MailExtras extrasOf(const MailRecord& record);
// Replace one part of Reserved and keep the other.
void setMessageId(MailRecord& record, const QByteArray& messageId);
void setExtras(MailRecord& record, const MailExtras& extras);

} // namespace kadmel
