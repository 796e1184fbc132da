#pragma once

class QCoreApplication;

namespace kadmel {

// Qt's own texts in German (the folder picker, standard buttons, the text fields' menus) and German
// number and date formats in Qt's dialogs, whatever the user's locale. False when the translation
// file is missing; the program then runs with Qt's English texts.
bool installGermanTranslations(QCoreApplication& app);

} // namespace kadmel
