#include "engine/SettingsSave.h"

#include "engine/AutostartEntry.h"
#include "engine/SignInSecrets.h"
#include "store/KadmelIni.h"
#include "store/Store.h"

#include <optional>
#include <utility>

namespace kadmel {
namespace {

// The folder as a change of kadmel.ini when it is another than the file names; the rule's reason when it
// does not serve. A folder kept as it was is not judged again: it may come back, and saving other
// settings must not wait for it.
QString changeFolder(const FolderSetting& folder, const FolderSetting& named, const QString& caption,
                     std::optional<FolderSetting>& change)
{
    if (folder == named)
        return {};
    change = folder;
    return folder.problem(caption);
}

} // namespace

QString saveSettings(Store& store, const SettingsEdit& edit, const AutostartEntry& session, SecretStore* secrets)
{
    KadmelIniFile& iniFile = store.kadmelIni();
    // kadmel.ini as it stands, to be put back byte for byte if the settings file cannot follow.
    const KadmelIni before = iniFile.read();
    const auto failed = [&](const QString& reason) {
        forgetSecrets(secrets, edit.signIn, before.signIn.value_or(AuthSetting{})); // the entries of this edit
        return reason;
    };
    KadmelIniChanges changes;
    changes.encryption = edit.encryption;
    // Sign-in and retry written only when they change: left as they were, kadmel.ini gains no section.
    if (!before.signIn || asFiled(edit.signIn) != asFiled(*before.signIn))
        changes.signIn = edit.signIn;
    if (edit.retry != before.retry)
        changes.retry = edit.retry;
    if (edit.pace != before.pace)
        changes.pace = edit.pace;
    for (const QString& problem : {changeFolder(edit.archiveFolder, before.archiveFolder,
                                                QStringLiteral("Der Archivordner"), changes.archiveFolder),
                                   changeFolder(edit.receiptFolder, before.receiptFolder,
                                                QStringLiteral("Der Quittungsordner"), changes.receiptFolder)}) {
        if (!problem.isEmpty())
            return failed(problem);
    }
    // Index and mails first: the edit changed none of them, so their failure leaves everything as it was.
    // Then the autostart entry and kadmel.ini (files of their own, as the settings file's layout is fixed),
    // and the settings file last.
    QString error;
    if (!store.saveMails(&error) || !store.SaveFolders(&error))
        return failed(error);
    const bool wasWithSession = session.exists();
    const bool sessionChanges = edit.withSession != wasWithSession;
    const auto restoreSession = [&] {
        if (sessionChanges)
            session.set(wasWithSession);
    };
    if (sessionChanges && !session.set(edit.withSession, &error))
        return failed(error);
    if (!iniFile.write(changes, &error)) {
        restoreSession();
        return failed(error);
    }
    const Settings previous = std::exchange(store.settings(), edit.settings);
    if (!store.SaveSettings(&error)) {
        store.settings() = previous;
        QString restoreError;
        if (!iniFile.putBack(before, &restoreError))
            error += QLatin1Char('\n') + restoreError;
        restoreSession();
        return failed(error);
    }
    if (before.signIn) // the file names the new entries now
        forgetSecrets(secrets, *before.signIn, edit.signIn);
    return {};
}

} // namespace kadmel
