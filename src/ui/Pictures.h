#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace kadmel {

// The image list of the main window, in its fixed order (the status bar once took pictures by index).
enum class Picture
{
    Active = 1,
    Inactive,
    Online,
    Offline,
    Mail,
    Mail1,
    Mail2,
    Send,
    MailSent,
    MailError,
    Trash,
    Options,
    Folder,
};

QString pictureKey(Picture picture);
// 16 px, with a 32 px version for dense screens.
QIcon pictureIcon(Picture picture);
QPixmap picturePixmap(Picture picture);

// The other pictures: "Banner", "ProgressBar", "Program64".
QPixmap namedPixmap(const QString& name);
QIcon programIcon();

} // namespace kadmel
