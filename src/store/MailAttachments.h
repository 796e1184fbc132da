#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kadmel {

struct AttachmentInfo
{
    QByteArray name; // Windows-1252, as the recipient sees it
    QByteArray type; // from the content, e.g. "application/pdf"
    qint64 size = 0;
};

// The mail's attachments, from the copies the intake made in the store's "Anhaenge/" folder.
QList<AttachmentInfo> attachmentsOf(const QString& programFolder, const MailRecord& mail);
bool readAttachment(const QString& programFolder, const MailRecord& mail, int index, QByteArray& bytes, QString* error);
// The editor drops one: the record only; the copy goes as an orphan later.
void forgetAttachment(MailRecord& mail, int index);

} // namespace kadmel
