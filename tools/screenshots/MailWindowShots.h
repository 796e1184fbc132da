#pragma once

#include <QString>

namespace kadmel {

// Pictures of the mail windows filled with a sample mail, for the screenshot gallery:
// mailviewer-body.png, mailviewer-log.png, maileditor.png, trayalert.png and about.png in `folder`.
// False with a German reason when a picture cannot be written.
bool saveMailWindowShots(const QString& folder, QString* error = nullptr);

} // namespace kadmel
