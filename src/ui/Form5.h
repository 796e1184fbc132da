#pragma once

#include "engine/AutostartEntry.h"
#include "engine/SignInSecrets.h"
#include "ui/SignInBox.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace kadmel {

class Prompts;
class SecretStore;
class SignInBox;
class Store;
struct AuthSetting;
struct Settings;
enum class Encryption;

// Asks the user for a folder; an empty text when cancelled. Tests answer it themselves.
using FolderPicker = std::function<QString(QWidget* parent)>;
FolderPicker systemFolderPicker();

// The settings dialog "Einstellungen". OK writes the settings and the whole store; a failed save
// is said and the dialog stays open. Cancel changes nothing.
class Form5 : public QDialog
{
    Q_OBJECT
public:
    // secrets: the desktop's keyring, where OK puts the sign-in's secrets when it takes them.
    Form5(Store& store, Prompts& prompts, FolderPicker picker, QWidget* parent = nullptr,
          const SignInSetup& browserSignIn = {}, SecretStore* secrets = nullptr);

    QString folderValue() const { return m_folder; }

Q_SIGNALS:
    // The settings were changed and saved.
    void settingsSaved();

protected:
    // The dialog stays inside the screen's available area, whatever rows the sign-in shows.
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSize wantedSize() const;
    // The folder picker over the disabled dialog, which comes back on top; empty when cancelled.
    QString pickFolder();
    void browse();
    void confirm();
    void save(const Settings& edited, Encryption encryption, const AuthSetting& signIn);
    void showFolder();

    Store& m_store;
    Prompts& m_prompts;
    SecretStore* m_secrets;
    JobPtr<SecretsJob> m_readingSecrets;
    JobPtr<SecretsJob> m_placingSecrets;
    FolderPicker m_picker;
    QString m_folder;
    QLabel* m_folderLabel;   // Label2
    QLineEdit* m_server;     // Text1
    QLineEdit* m_port;       // Text4
    QComboBox* m_encryption; // Verschluesselung of kadmel.ini
    SignInBox* m_signIn;
    QLineEdit* m_user;        // Text2
    QLineEdit* m_password;    // Text3
    QCheckBox* m_spa;         // Check1
    QCheckBox* m_autoStart;   // Check2
    QCheckBox* m_withSession; // shows and sets the session's autostart entry
    QCheckBox* m_retry;       // "AutomatischWiederholen" of kadmel.ini
    QLineEdit* m_archive;     // [Archiv] Ordner of kadmel.ini; empty: no archive
    QLineEdit* m_receipts;    // "[Quittung] Ordner" of kadmel.ini; empty: no receipts
    QLineEdit* m_perMinute;   // "MailsProMinute" of kadmel.ini; empty: one job per tick
    QLineEdit* m_perDay;      // "MailsProTag" of kadmel.ini
    AutostartEntry m_sessionEntry;
    QScrollArea* m_rows;
    QSize m_fittedHint;
    bool m_fitQueued = false;
};

} // namespace kadmel
