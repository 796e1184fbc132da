#pragma once

#include "signin/SignInJob.h"
#include "store/AuthSetting.h"
#include "store/EncryptionSetting.h"

#include <QGroupBox>

#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kadmel {

class Prompts;

BrowserOpener systemBrowserOpener();

// How the settings dialog signs in; tests put in their own opener and short limits.
struct SignInSetup
{
    BrowserOpener opener = systemBrowserOpener();
    SignInTimings timings;
};

// Puts a template's server, port, encryption and the provider's sending limits (mails a minute, a day) into the
// dialog; the names of the fields it changed.
using ServerFill = std::function<QStringList(const QString& server, qint16 port, Encryption encryption,
                                             qint32 perMinute, qint32 perDay)>;

// How the program signs in at the mail server, as the settings dialog shows it: the choice (methodBox(),
// placed by the dialog) and this group with the OAuth 2.0 fields, shown only for an OAuth choice.
class SignInBox : public QGroupBox
{
    Q_OBJECT
public:
    SignInBox(Prompts& prompts, const SignInSetup& setup, QWidget* parent);

    QComboBox* methodBox() const { return m_method; }
    void setServerFill(ServerFill fill) { m_serverFill = std::move(fill); }
    // The mail settings' user name: the account suggested to the service, and the one the token must be for.
    void setUserName(const QString& user);

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

private:
    // The provider whose addresses the fields hold, as a template filled them in.
    enum class Provider
    {
        Microsoft,
        Google,
    };
    struct Filled
    {
        Provider provider;
        QString tenant;
        QStringList values; // token address, authorisation address, scope, as filled in
    };

    std::optional<AuthMethod> method() const;
    bool signsInAsPerson() const;
    void methodChosen();
    void fillMicrosoft();
    void fill(Provider provider, const QString& tenant);
    void signInOrCancel();
    bool isSigningIn() const { return bool(m_job); }
    void signInEnded();
    void showAddress(const QUrl& address, const QString& caption);
    void showSignInState();
    void fitDialog();
    QString tokenOwner() const;
    QStringList filledValues() const;

    Prompts& m_prompts;
    QComboBox* m_method;
    QLabel* m_authorizationLabel;
    QLineEdit* m_tokenUrl;
    QLineEdit* m_authorizationUrl;
    QLineEdit* m_clientId;
    QLineEdit* m_secret;
    QLineEdit* m_scope;
    QLabel* m_filledNote;
    QLabel* m_googleDeviceNote;
    QPushButton* m_signIn;
    QLabel* m_signInState;
    QLabel* m_secretsPlace; // where the stored secrets are
    QLabel* m_userCode;
    QLineEdit* m_address;
    QWidget* m_addressRow;
    QList<QWidget*> m_personOnly; // rows of the browser and the device code sign-in
    SignInSetup m_setup;
    JobPtr<SignInJob> m_job; // the sign-in under way
    ServerFill m_serverFill;
    QString m_userName;
    std::optional<Filled> m_filled;
    std::optional<AuthMethod> m_shownMethod;
    QByteArray m_secretKey;    // the keyring entry of the shown client secret, while it is the one shown
    QByteArray m_storedSecret; // the client secret as stored (empty while unread from the keyring)
    QByteArray m_refreshToken;
    QByteArray m_refreshTokenKey;
    QString m_refreshTokenOwner; // the endpoint and client the refresh token was given for
    QString m_signingInFor;      // the same for the sign-in under way
    QString m_account;           // the address the service named at a sign-in here
    bool m_signedInHere = false;
};

} // namespace kadmel
