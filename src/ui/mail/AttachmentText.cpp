#include "ui/mail/AttachmentText.h"

#include "engine/ByteText.h"
#include "store/Ansi.h"
#include "store/ArchiveFiles.h"

namespace kadmel {

QString attachmentTypeText(const QByteArray& type)
{
    static const std::pair<const char*, const char*> names[] = {
        {"application/pdf", "PDF"}, {"application/xml", "XML"},  {"application/zip", "ZIP-Archiv"},
        {"image/png", "PNG-Bild"},  {"image/jpeg", "JPEG-Bild"},
    };
    for (const auto& [mime, name] : names) {
        if (type.compare(mime, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(name);
    }
    return QStringLiteral("Datei");
}

QString attachmentLine(const AttachmentInfo& attachment)
{
    return QStringLiteral("%1 (%2, %3)")
        .arg(fromAnsi(attachment.name), fromAnsi(FormatByteSize(attachment.size)), attachmentTypeText(attachment.type));
}

QString attachmentFileName(const AttachmentInfo& attachment)
{
    // fileNameFromText keeps 60 characters: the extension is cut off first and put back, so the file
    // still opens in its program.
    const QString name = fromAnsi(attachment.name);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || name.size() - dot > 10)
        return fileNameFromText(name);
    return fileNameFromText(name.left(dot)) + QLatin1Char('.') + fileNameFromText(name.mid(dot + 1));
}

} // namespace kadmel
