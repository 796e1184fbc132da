#include "store/MailAttachments.h"

namespace kadmel {

QList<AttachmentInfo> attachmentsOf(const QString&, const MailRecord&)
{
    return {};
}

bool readAttachment(const QString&, const MailRecord&, int, QByteArray&, QString*)
{
    return false;
}

void forgetAttachment(MailRecord&, int) {}

} // namespace kadmel
