#include "ui/mail/MailPictures.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must not be used inside a namespace.
static void registerMailWindowsResource()
{
    Q_INIT_RESOURCE(mailwindows);
}

namespace kadmel {

void initMailPictures()
{
    static const bool registered = (registerMailWindowsResource(), true);
    Q_UNUSED(registered);
}

} // namespace kadmel
