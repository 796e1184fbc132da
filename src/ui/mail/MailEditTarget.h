#pragma once

#include "store/MailAttachments.h"
#include "store/MailRecord.h"

#include <QString>

namespace kadmel {

// What the mail editor needs of the store: the record it edits and the whole-store write.
class MailEditTarget
{
public:
    virtual ~MailEditTarget() = default;
    // The record of the mail with this ID, or nullptr when there is none.
    virtual MailRecord* mailRecord(qint16 id) = 0;
    // Writes the whole store; false with a German reason in `error` on failure.
    virtual bool saveAll(QString* error) = 0;
    // The mail's attachments as the editor lists them.
    virtual QList<AttachmentInfo> attachments(const MailRecord&) { return {}; }
};

} // namespace kadmel
