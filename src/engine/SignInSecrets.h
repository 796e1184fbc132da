#pragma once

#include "engine/SecretStore.h"
#include "store/AuthSetting.h"

#include <optional>

namespace kadmel {

// The two secrets of an OAuth 2.0 sign-in (client secret, refresh token) in their place: the desktop's keyring
// where one takes them, else kadmel.ini, scrambled. A secret moves by being written to its new place first;
// the old entry is removed only once the file names the new one, so no step loses it. Every `done` comes
// after the call returned.

// The setting with its keyring-held secrets read; nothing and the reason (German) when one cannot be read.
using SecretsRead = std::function<void(const std::optional<AuthSetting>& setting, const QString& error)>;
void readSecrets(SecretStore* store, const AuthSetting& setting, QObject* context, SecretsRead done);

// Whether placeSecrets() has a secret to write to the keyring.
bool secretsToPlace(const SecretStore* store, const AuthSetting& setting);
// The setting with each secret that has no keyring entry yet written to a new one. When the keyring does not
// take one, the secrets of this round stay with the setting for the file and `error` says why; entries
// written in vain are removed. A secret that already has an entry keeps it.
using SecretsPlaced = std::function<void(const AuthSetting& placed, const QString& error)>;
void placeSecrets(SecretStore* store, const AuthSetting& setting, QObject* context, SecretsPlaced done);

// Removes the keyring entries that `before` names and `after` does not. One the keyring keeps against this
// is named by no file and harms nothing.
void forgetSecrets(SecretStore* store, const AuthSetting& before, const AuthSetting& after);

// Where the file says the secrets are, for the settings dialog; empty when there are none.
QString secretsPlaceText(const AuthSetting& setting);

} // namespace kadmel
