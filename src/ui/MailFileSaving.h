#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace kadmel {

class Prompts;
class Store;

// Asks where to save a file, starting from the suggested path; an empty text when cancelled. Tests answer it.
using SaveFilePicker = std::function<QString(QWidget* parent, const QString& suggestedPath)>;
SaveFilePicker systemSaveFilePicker();

// "Als E-Mail-Datei speichern…": the mail as an ".eml" file where the user chooses, named after its subject.
// A failure is said in a box. The path written, or an empty text.
QString saveMailAsFile(QWidget* parent, Store& store, qint16 id, Prompts& prompts, const SaveFilePicker& picker);

} // namespace kadmel
