#pragma once

#include "store/AuthSetting.h"
#include "store/EncryptionSetting.h"
#include "store/FolderSetting.h"
#include "store/PaceSetting.h"
#include "store/Settings.h"

#include <QString>

namespace kadmel {

class AutostartEntry;
class SecretStore;
class Store;

// What the settings dialog's "OK" saves.
struct SettingsEdit
{
    Settings settings; // the settings file's record
    Encryption encryption = Encryption::Keine;
    AuthSetting signIn; // its secrets already in their place
    bool retry = false;
    FolderSetting archiveFolder;
    FolderSetting receiptFolder;
    bool withSession = false; // the session's autostart entry
    PaceLimits pace = {};
};

// Saves the edit as one. A folder other than the one kadmel.ini names must pass the folder rule. Then the
// mail files and the index, the autostart entry, kadmel.ini (always written, so that its changed() tells of
// the whole save) and the settings file; the store's settings take the new values only with the disk. A step
// that fails undoes those before it and removes the keyring entries written for this edit; a save removes
// those the file names no more. Empty when saved; else the German reason, and everything as it was.
QString saveSettings(Store& store, const SettingsEdit& edit, const AutostartEntry& session,
                     SecretStore* secrets = nullptr);

} // namespace kadmel
