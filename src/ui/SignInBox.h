#pragma once

#include "store/AuthSetting.h"
#include "store/EncryptionSetting.h"
#include "ui/BrowserSignIn.h"

#include <QGroupBox>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kadmel {

class Prompts;

// How the program signs in at the mail server, as the settings dialog shows it: the choice (methodBox(),
// placed by the dialog) and this group with the OAuth 2.0 fields, shown only for an OAuth choice.
class SignInBox : public QGroupBox
{
    Q_OBJECT
public:
    SignInBox(Prompts& prompts, const BrowserSignInSetup& browser, QWidget* parent);

    QComboBox* methodBox() const { return m_method; }

    // Shows the stored setting; nothing (an unknown Verfahren) shows no choice, so none is assumed.
    void showSetting(const std::optional<AuthSetting>& setting);
    // The secrets of the shown setting as read from the keyring, or why they could not be read. A secret
    // not read stays where it is unless one is typed.
    void showSecrets(const std::optional<AuthSetting>& read, const QString& error);
    // What the fields say; nothing while no choice is made.
    std::optional<AuthSetting> setting() const;
    // Which field keeps OK from taking them over, in German; empty when none does. The field at fault gets the
    // focus. Whether the sign-in fits the encryption is decideDelivery()'s word.
    QString problem() const;
    // setting() as OK stores it, once a choice is made. The running service may have stored a renewed
    // refresh token since the dialog opened; only a sign-in here replaces that one.
    AuthSetting settingToSave(const std::optional<AuthSetting>& stored) const;

Q_SIGNALS:
    void usesOAuthChanged(bool usesOAuth);
    // A prefill button names the server that goes with its service.
    void serverSuggested(const QString& server, qint16 port, Encryption encryption);

private:
    std::optional<AuthMethod> method() const;
    void methodChosen();
    void fillMicrosoft();
    void fillGoogle();
    void signInOrCancel();
    void showSignInState();
    QString tokenOwner() const;

    Prompts& m_prompts;
    QComboBox* m_method;
    QLineEdit* m_tokenUrl;
    QLineEdit* m_authorizationUrl;
    QLineEdit* m_clientId;
    QLineEdit* m_secret;
    QLineEdit* m_scope;
    QPushButton* m_signIn;
    QLabel* m_signInState;
    QLabel* m_secretsPlace; // where the stored secrets are
    QList<QWidget*> m_browserOnly;
    BrowserSignIn m_browser;
    QByteArray m_secretKey;    // the keyring entry of the shown client secret, while it is the one shown
    QByteArray m_storedSecret; // the client secret as stored (empty while unread from the keyring)
    QByteArray m_refreshToken;
    QByteArray m_refreshTokenKey;
    QString m_refreshTokenOwner; // the endpoint and client the refresh token was given for
    QString m_signingInFor;      // the same for the sign-in under way
    bool m_signedInHere = false;
};

} // namespace kadmel
