#pragma once

#include <QList>
#include <QString>

#include <functional>

class QWidget;

namespace kadmel {

class Prompts;
class Store;

// Asks where to save a file, starting from the suggested path; an empty text when cancelled. Tests answer it.
// A suggested ".eml" name asks for a mail file, any other for an attachment.
using SaveFilePicker = std::function<QString(QWidget* parent, const QString& suggestedPath)>;
SaveFilePicker systemSaveFilePicker();

// "Als E-Mail-Datei speichern…": the mail as an ".eml" file where the user chooses, named after its subject.
// A failure is said in a box. The path written, or an empty text.
QString saveMailAsFile(QWidget* parent, Store& store, qint16 id, Prompts& prompts, const SaveFilePicker& picker);

// The same for several mails: one ".eml" each in the folder the user chooses, named after its subject, a name
// already there never replaced ("Betreff (2).eml"). What failed is said in one box. The summary for panel 2, or
// an empty text when cancelled.
QString saveMailsToFolder(QWidget* parent, Store& store, const QList<qint16>& ids, Prompts& prompts,
                          const std::function<QString(QWidget*)>& folderPicker);

// "Anhang speichern…": the mail's attachment at this index, byte for byte, where the user chooses, under its
// own name. A failure is said in a box. The path written, or an empty text.
QString saveAttachmentAsFile(QWidget* parent, const Store& store, qint16 id, int index, Prompts& prompts,
                             const SaveFilePicker& picker);

} // namespace kadmel
