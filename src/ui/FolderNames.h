#pragma once

#include "store/MailRecord.h"
#include "ui/Pictures.h"

#include <QString>

namespace kadmel {

// "Gesendete Objekte " and its siblings, each with its trailing blank.
inline QString folderName(int folder)
{
    return folderTitle(folder) + QLatin1Char(' ');
}

inline QString folderCaption(int folder, qint16 count)
{
    return folderName(folder) + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

inline Picture folderPicture(int folder)
{
    switch (folder) {
    case SentFolder:
        return Picture::MailSent;
    case FailedFolder:
        return Picture::MailError;
    default:
        return Picture::Trash;
    }
}

} // namespace kadmel
