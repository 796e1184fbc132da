#pragma once

class QFileDialog;

namespace kadmel {

// Qt's own file dialog instead of the desktop's, which speaks the session's language: German titles and
// German dates (the file model writes the desktop's locale, English under C), the columns wide enough.
void useGermanFileDialog(QFileDialog& dialog);

// A folder picker: folders only, and without the file type row that has nothing to choose.
void useFolderPicker(QFileDialog& dialog);

} // namespace kadmel
