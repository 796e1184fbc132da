#include "ui/MailFileSaving.h"

#include "engine/MailCommands.h"
#include "engine/MailExport.h"
#include "store/Ansi.h"
#include "store/ArchiveFiles.h"
#include "store/FileAccess.h"
#include "store/MailAttachments.h"
#include "store/Store.h"
#include "ui/FileDialogs.h"
#include "ui/Prompts.h"
#include "ui/mail/AttachmentText.h"

#include <QDir>
#include <QFileDialog>

namespace kadmel {

SaveFilePicker systemSaveFilePicker()
{
    return [](QWidget* parent, const QString& suggestedPath) {
        const bool mailFile = suggestedPath.endsWith(QLatin1String(".eml"), Qt::CaseInsensitive);
        QFileDialog dialog(
            parent, mailFile ? QStringLiteral("Als E-Mail-Datei speichern") : QStringLiteral("Anhang speichern"),
            suggestedPath, mailFile ? QStringLiteral("E-Mail-Dateien (*.eml)") : QStringLiteral("Alle Dateien (*)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        useGermanFileDialog(dialog); // German like the rest, whatever the desktop's dialog
        if (mailFile)
            dialog.setDefaultSuffix(QStringLiteral("eml")); // a name typed without it still opens in a mail program
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

QString saveMailsToFolder(QWidget* parent, Store& store, const QList<qint16>& ids, Prompts& prompts,
                          const std::function<QString(QWidget*)>& folderPicker)
{
    const QString folder = ids.isEmpty() || !folderPicker ? QString() : folderPicker(parent);
    if (folder.isEmpty())
        return {};
    QStringList failed;
    int saved = 0;
    for (const qint16 id : ids) {
        QString error;
        // Read again for each: the folder picker let events run.
        std::optional<QByteArray> message;
        QString stem;
        if (id < 1 || id > store.tables().MailCount())
            error = QStringLiteral("Die E-Mail gibt es nicht mehr.");
        else if ((message = mailAsFile(store, id, &error)))
            stem = fileNameFromText(fromAnsi(store.tables().mail(id).Subject));
        if (message && writeNewFile(folder, stem, QStringLiteral(".eml"), *message, &error))
            ++saved;
        else
            failed << QStringLiteral("E-Mail (ID %1): %2").arg(id).arg(error);
    }
    const QString where = QStringLiteral(" gespeichert in %1").arg(quotedName(folder));
    if (failed.isEmpty())
        return mailsText(saved) + where;
    const qsizetype shown = 10; // a box the screen can hold
    QString text =
        QStringLiteral("%1 von %2 wurden nicht gespeichert:\n").arg(mailsText(int(failed.size()))).arg(ids.size()) +
        failed.first(std::min(shown, failed.size())).join(u'\n');
    if (failed.size() > shown)
        text += QStringLiteral("\n… und %1 weitere.").arg(failed.size() - shown);
    prompts.ask(parent, text, PromptIcon::Critical, PromptButtons::Ok);
    return QStringLiteral("%1 von %2").arg(saved).arg(mailsText(int(ids.size()))) + where;
}

QString saveAttachmentAsFile(QWidget* parent, const Store& store, qint16 id, int index, Prompts& prompts,
                             const SaveFilePicker& picker)
{
    if (id < 1 || id > store.tables().MailCount() || !picker)
        return {};
    const MailRecord& mail = store.tables().mail(id);
    const QList<AttachmentInfo> attachments = attachmentsOf(store.programFolder(), mail);
    if (index < 0 || index >= attachments.size())
        return {};
    const QString path = picker(parent, QDir::home().filePath(attachmentFileName(attachments.at(index))));
    if (path.isEmpty())
        return {};
    QString error;
    QByteArray bytes;
    // Read again only now: the mail may have been removed for good while the dialog was open.
    if (id <= store.tables().MailCount() &&
        readAttachment(store.programFolder(), store.tables().mail(id), index, bytes, &error) &&
        writeWholeFile(path, bytes, &error))
        return path;
    prompts.ask(parent,
                QStringLiteral("Der Anhang „%1“ der E-Mail (ID %2) wurde nicht gespeichert.\n")
                        .arg(fromAnsi(attachments.at(index).name))
                        .arg(id) +
                    error,
                PromptIcon::Critical, PromptButtons::Ok);
    return {};
}

} // namespace kadmel
