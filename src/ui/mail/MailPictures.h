#pragma once

#include <QString>

namespace kadmel {

// Registers the pictures of the mail windows (they live in the static UI library, whose
// resources are only linked in when something asks for them). Safe to call more than once.
void initMailPictures();

// Resource paths of the mail windows' pictures.
namespace MailPicture {
inline QString about()
{
    return QStringLiteral(":/mail/about.png");
}
inline QString close()
{
    return QStringLiteral(":/mail/close.png");
}
inline QString closePressed()
{
    return QStringLiteral(":/mail/close_pressed.png");
}
inline QString edit()
{
    return QStringLiteral(":/mail/edit.png");
}
inline QString envelope()
{
    return QStringLiteral(":/mail/envelope.png");
}
} // namespace MailPicture

} // namespace kadmel
