#include "ui/Pictures.h"

#include <array>

// The pictures live in a static library, whose resources are not registered by themselves.
static void registerPictures()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(pictures);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace kadmel {

QString pictureKey(Picture picture)
{
    static const std::array<QString, 13> keys = {
        QStringLiteral("Active"),   QStringLiteral("Inactive"),  QStringLiteral("Online"), QStringLiteral("Offline"),
        QStringLiteral("Mail"),     QStringLiteral("Mail1"),     QStringLiteral("Mail2"),  QStringLiteral("Send"),
        QStringLiteral("MailSent"), QStringLiteral("MailError"), QStringLiteral("Trash"),  QStringLiteral("Options"),
        QStringLiteral("Folder")};
    return keys.at(static_cast<std::size_t>(picture) - 1);
}

QIcon pictureIcon(Picture picture)
{
    registerPictures();
    const QString base = QStringLiteral(":/pictures/") + pictureKey(picture);
    QIcon icon;
    icon.addFile(base + QStringLiteral(".png"), QSize(16, 16));
    icon.addFile(base + QStringLiteral("@2x.png"), QSize(32, 32));
    return icon;
}

QPixmap picturePixmap(Picture picture)
{
    registerPictures();
    return QPixmap(QStringLiteral(":/pictures/") + pictureKey(picture) + QStringLiteral(".png"));
}

QPixmap namedPixmap(const QString& name)
{
    registerPictures();
    return QPixmap(QStringLiteral(":/pictures/") + name + QStringLiteral(".png"));
}

QIcon programIcon()
{
    registerPictures();
    QIcon icon;
    for (int size : {16, 32, 64})
        icon.addFile(QStringLiteral(":/pictures/Program%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace kadmel
