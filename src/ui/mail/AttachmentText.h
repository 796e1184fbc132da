#pragma once

#include "store/MailAttachments.h"

#include <QString>

namespace kadmel {

// An attachment's type as the windows name it: "PDF", "XML", "ZIP-Archiv", "PNG-Bild", "JPEG-Bild", else "Datei".
QString attachmentTypeText(const QByteArray& type);

// "rechnung.pdf (12,3 KB, PDF)": one attachment on one line.
QString attachmentLine(const AttachmentInfo& attachment);

// A file name for saving it: what a file system refuses becomes "_", the extension is kept.
QString attachmentFileName(const AttachmentInfo& attachment);

} // namespace kadmel
