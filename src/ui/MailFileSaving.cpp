#include "ui/MailFileSaving.h"

#include "engine/MailExport.h"
#include "store/Ansi.h"
#include "store/ArchiveFiles.h"
#include "store/FileAccess.h"
#include "store/Store.h"
#include "ui/Prompts.h"

#include <QDir>
#include <QFileDialog>

namespace kadmel {

SaveFilePicker systemSaveFilePicker()
{
    return [](QWidget* parent, const QString& suggestedPath) {
        QFileDialog dialog(parent, QStringLiteral("Als E-Mail-Datei speichern"), suggestedPath,
                           QStringLiteral("E-Mail-Dateien (*.eml)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontUseNativeDialog); // German like the rest, whatever the desktop's dialog
        dialog.setDefaultSuffix(QStringLiteral("eml"));     // a name typed without it still opens in a mail program
        return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
    };
}

QString saveMailAsFile(QWidget* parent, Store& store, qint16 id, Prompts& prompts, const SaveFilePicker& picker)
{
    if (id < 1 || id > store.tables().MailCount() || !picker)
        return {};
    const QString name = fileNameFromText(fromAnsi(store.tables().mail(id).Subject)) + QStringLiteral(".eml");
    const QString path = picker(parent, QDir::home().filePath(name));
    if (path.isEmpty())
        return {};
    QString error;
    const std::optional<QByteArray> message = mailAsFile(store, id, &error);
    if (message && writeWholeFile(path, *message, &error))
        return path;
    prompts.ask(parent, QStringLiteral("Die E-Mail (ID %1) wurde nicht gespeichert.\n").arg(id) + error,
                PromptIcon::Critical, PromptButtons::Ok);
    return {};
}

} // namespace kadmel
