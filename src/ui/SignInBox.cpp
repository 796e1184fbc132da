#include "ui/SignInBox.h"

#include "engine/SignInSecrets.h"
#include "engine/TokenRequest.h"

#include "store/Ansi.h"
#include "ui/Prompts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace kadmel {
namespace {

QLineEdit* field(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

QPushButton* button(const QString& text, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

} // namespace

SignInBox::SignInBox(Prompts& prompts, const BrowserSignInSetup& browser, QWidget* parent)
    : QGroupBox(QStringLiteral("OAuth 2.0"), parent), m_prompts(prompts), m_method(new QComboBox(parent)),
      m_tokenUrl(field("TokenUrl", this)), m_authorizationUrl(field("AuthorizationUrl", this)),
      m_clientId(field("ClientId", this)), m_secret(field("ClientSecret", this)), m_scope(field("Scope", this)),
      m_signIn(button(QStringLiteral("Im Browser anmelden…"), "SignIn", this)), m_signInState(new QLabel(this)),
      m_secretsPlace(new QLabel(this)), m_browser(browser)
{
    setObjectName(QStringLiteral("SignInBox"));
    m_method->setObjectName(QStringLiteral("SignInMethod"));
    m_method->addItem(QStringLiteral("Kennwort"), int(AuthMethod::Kennwort));
    m_method->addItem(QStringLiteral("OAuth 2.0 (Dienstkonto)"), int(AuthMethod::OAuth2Dienst));
    m_method->addItem(QStringLiteral("OAuth 2.0 (Browser-Anmeldung)"), int(AuthMethod::OAuth2Browser));
    m_secret->setEchoMode(QLineEdit::Password);
    m_secret->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_signInState->setObjectName(QStringLiteral("SignInState"));
    m_secretsPlace->setObjectName(QStringLiteral("SecretsPlace"));
    m_secretsPlace->setWordWrap(true); // a keyring's reason can be long

    auto* grid = new QGridLayout(this);
    const auto row = [&](const QString& caption, QWidget* widget) {
        const int r = grid->rowCount();
        auto* label = new QLabel(caption, this);
        grid->addWidget(label, r, 0);
        grid->addWidget(widget, r, 1);
        return label;
    };
    row(QStringLiteral("Token-Adresse:"), m_tokenUrl);
    m_browserOnly << row(QStringLiteral("Autorisierungsadresse:"), m_authorizationUrl) << m_authorizationUrl;
    row(QStringLiteral("Client-ID:"), m_clientId);
    row(QStringLiteral("Client-Geheimnis:"), m_secret);
    row(QStringLiteral("Bereich:"), m_scope);
    row(QStringLiteral("Geheimnisse:"), m_secretsPlace);
    auto* microsoft = button(QStringLiteral("Microsoft 365"), "FillMicrosoft", this);
    auto* google = button(QStringLiteral("Google"), "FillGoogle", this);
    auto* fill = new QHBoxLayout;
    fill->addWidget(microsoft);
    fill->addWidget(google);
    fill->addStretch();
    grid->addWidget(new QLabel(QStringLiteral("Vorlage:"), this), grid->rowCount(), 0);
    grid->addLayout(fill, grid->rowCount() - 1, 1);
    auto* signInRow = new QHBoxLayout;
    signInRow->addWidget(m_signIn);
    signInRow->addWidget(m_signInState, 1);
    auto* signInRowHolder = new QWidget(this);
    signInRowHolder->setLayout(signInRow);
    signInRow->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(signInRowHolder, grid->rowCount(), 1);
    m_browserOnly << signInRowHolder;

    connect(m_method, &QComboBox::currentIndexChanged, this, &SignInBox::methodChosen);
    connect(microsoft, &QPushButton::clicked, this, &SignInBox::fillMicrosoft);
    connect(google, &QPushButton::clicked, this, &SignInBox::fillGoogle);
    connect(m_signIn, &QPushButton::clicked, this, &SignInBox::signInOrCancel);
    for (QLineEdit* owner : {m_tokenUrl, m_authorizationUrl, m_clientId})
        connect(owner, &QLineEdit::textChanged, this, &SignInBox::showSignInState);
    connect(&m_browser, &BrowserSignIn::succeeded, this, [this](const QByteArray& refreshToken) {
        m_refreshToken = refreshToken;
        m_refreshTokenKey.clear();
        m_refreshTokenOwner = m_signingInFor;
        m_signedInHere = true;
        showSignInState();
    });
    connect(&m_browser, &BrowserSignIn::failed, this, [this](const QString& reason) {
        showSignInState();
        m_prompts.ask(window(), reason, PromptIcon::Critical, PromptButtons::Ok);
    });
    showSetting(AuthSetting{});
}

std::optional<AuthMethod> SignInBox::method() const
{
    if (m_method->currentIndex() < 0)
        return std::nullopt;
    return AuthMethod(m_method->currentData().toInt());
}

void SignInBox::showSetting(const std::optional<AuthSetting>& setting)
{
    const AuthSetting shown = setting.value_or(AuthSetting{});
    m_tokenUrl->setText(authText(shown.tokenUrl));
    m_authorizationUrl->setText(authText(shown.authorizationUrl));
    m_clientId->setText(authText(shown.clientId));
    m_secret->setText(authText(shown.clientSecret));
    m_scope->setText(authText(shown.scope));
    m_secretKey = shown.clientSecretKey;
    m_storedSecret = shown.clientSecret;
    m_refreshToken = shown.refreshToken;
    m_refreshTokenKey = shown.refreshTokenKey;
    m_secretsPlace->setText(secretsPlaceText(shown));
    m_refreshTokenOwner = tokenOwner();
    m_method->setCurrentIndex(setting ? m_method->findData(int(shown.method)) : -1);
    methodChosen();
}

void SignInBox::showSecrets(const std::optional<AuthSetting>& read, const QString& error)
{
    if (!read) {
        m_secretsPlace->setText(QStringLiteral("Im Schlüsselbund gespeichert, doch nicht lesbar: ") + error);
        return;
    }
    // Only what is still as shown: a secret typed meanwhile stays.
    if (!m_secretKey.isEmpty() && read->clientSecretKey == m_secretKey &&
        m_secret->text() == authText(m_storedSecret)) {
        m_storedSecret = read->clientSecret;
        m_secret->setText(authText(m_storedSecret));
    }
    if (!m_refreshTokenKey.isEmpty() && read->refreshTokenKey == m_refreshTokenKey)
        m_refreshToken = read->refreshToken;
}

std::optional<AuthSetting> SignInBox::setting() const
{
    const std::optional<AuthMethod> chosen = method();
    if (!chosen)
        return std::nullopt;
    AuthSetting s;
    s.method = *chosen;
    s.tokenUrl = authBytes(m_tokenUrl->text().trimmed());
    s.authorizationUrl = authBytes(m_authorizationUrl->text().trimmed());
    s.clientId = authBytes(m_clientId->text().trimmed());
    s.clientSecret = authBytes(m_secret->text());
    if (m_secret->text() == authText(m_storedSecret)) // unchanged: it stays in its keyring entry
        s.clientSecretKey = m_secretKey;
    s.scope = authBytes(m_scope->text().trimmed());
    // A refresh token is good only for the endpoint and client it was given for.
    if (s.method == AuthMethod::OAuth2Browser && m_refreshTokenOwner == tokenOwner()) {
        s.refreshToken = m_refreshToken;
        s.refreshTokenKey = m_refreshTokenKey;
    }
    return s;
}

AuthSetting SignInBox::settingToSave(const std::optional<AuthSetting>& stored) const
{
    AuthSetting s = *setting();
    if (stored && s.hasRefreshToken() && !m_signedInHere && stored->hasRefreshToken() &&
        stored->tokenUrl == s.tokenUrl && stored->authorizationUrl == s.authorizationUrl &&
        stored->clientId == s.clientId) {
        s.refreshToken = stored->refreshToken;
        s.refreshTokenKey = stored->refreshTokenKey;
    }
    return s;
}

QString SignInBox::problem() const
{
    const std::optional<AuthMethod> chosen = method();
    if (!chosen) {
        m_method->setFocus();
        return QStringLiteral("Bitte wählen Sie ein Anmeldeverfahren.");
    }
    if (*chosen == AuthMethod::Kennwort)
        return {};
    const bool browser = *chosen == AuthMethod::OAuth2Browser;
    const auto missing = [](QLineEdit* edit, const QString& text) {
        edit->setFocus();
        return text;
    };
    for (const auto& [edit, name] : {std::pair{m_tokenUrl, QStringLiteral("Token-Adresse")},
                                     std::pair{m_authorizationUrl, QStringLiteral("Autorisierungsadresse")}}) {
        if (edit == m_authorizationUrl && !browser)
            continue;
        if (edit->text().trimmed().isEmpty())
            return missing(edit, QStringLiteral("Bitte geben Sie die %1 an.").arg(name));
        if (!isSafeOAuthAddress(QUrl(edit->text().trimmed(), QUrl::StrictMode)))
            return missing(edit, QStringLiteral("Die %1 muss eine https-Adresse sein.").arg(name));
    }
    if (m_clientId->text().trimmed().isEmpty())
        return missing(m_clientId, QStringLiteral("Bitte geben Sie die Client-ID an."));
    const bool secretUnread = !m_secretKey.isEmpty() && m_storedSecret.isEmpty(); // stays in the keyring
    if (!browser && m_secret->text().isEmpty() && !secretUnread)
        return missing(m_secret, QStringLiteral("Bitte geben Sie das Client-Geheimnis an."));
    return {};
}

void SignInBox::methodChosen()
{
    const std::optional<AuthMethod> chosen = method();
    const bool oauth = chosen && *chosen != AuthMethod::Kennwort;
    const bool browser = chosen == AuthMethod::OAuth2Browser;
    if (!browser)
        m_browser.cancel();
    for (QWidget* widget : m_browserOnly)
        widget->setVisible(browser);
    m_secret->setPlaceholderText(browser ? QStringLiteral("optional") : QString());
    setVisible(oauth);
    showSignInState();
    Q_EMIT usesOAuthChanged(oauth);
    // The dialog shrinks again when the OAuth rows go.
    if (QWidget* dialog = window(); dialog != this && dialog->isVisible())
        dialog->adjustSize();
}

void SignInBox::fillMicrosoft()
{
    bool ok = false;
    const QString tenant = QInputDialog::getText(window(), QStringLiteral("Microsoft 365"),
                                                 QStringLiteral("Mandant (Verzeichnis-ID oder Domäne):"),
                                                 QLineEdit::Normal, QString(), &ok)
                               .trimmed();
    if (!ok || tenant.isEmpty())
        return;
    // The tenant becomes part of the addresses: a directory ID or a domain name, nothing else.
    static const QRegularExpression Tenant(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9.-]*$"));
    if (!Tenant.match(tenant).hasMatch()) {
        m_prompts.ask(window(), QStringLiteral("„%1“ ist weder eine Verzeichnis-ID noch eine Domäne.").arg(tenant),
                      PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    const QString base = QStringLiteral("https://login.microsoftonline.com/%1/oauth2/v2.0/").arg(tenant);
    const bool browser = method() == AuthMethod::OAuth2Browser;
    m_tokenUrl->setText(base + QStringLiteral("token"));
    if (browser)
        m_authorizationUrl->setText(base + QStringLiteral("authorize"));
    m_scope->setText(browser ? QStringLiteral("https://outlook.office.com/SMTP.Send offline_access")
                             : QStringLiteral("https://outlook.office365.com/.default"));
    Q_EMIT serverSuggested(QStringLiteral("smtp.office365.com"), 587, Encryption::StartTls);
}

void SignInBox::fillGoogle()
{
    m_tokenUrl->setText(QStringLiteral("https://oauth2.googleapis.com/token"));
    if (method() == AuthMethod::OAuth2Browser)
        m_authorizationUrl->setText(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
    m_scope->setText(QStringLiteral("https://mail.google.com/"));
    Q_EMIT serverSuggested(QStringLiteral("smtp.gmail.com"), 587, Encryption::StartTls);
}

void SignInBox::signInOrCancel()
{
    if (m_browser.isRunning()) {
        m_browser.cancel();
        return showSignInState();
    }
    QString error = problem();
    m_signingInFor = tokenOwner(); // fields edited while the browser is open do not own the token
    if (!error.isEmpty() || !m_browser.start(*setting(), &error))
        m_prompts.ask(window(), error, PromptIcon::Exclamation, PromptButtons::Ok);
    showSignInState();
}

void SignInBox::showSignInState()
{
    const bool running = m_browser.isRunning();
    const bool kept =
        (!m_refreshToken.isEmpty() || !m_refreshTokenKey.isEmpty()) && m_refreshTokenOwner == tokenOwner();
    m_signIn->setText(running ? QStringLiteral("Anmeldung abbrechen") : QStringLiteral("Im Browser anmelden…"));
    m_signInState->setText(running ? QStringLiteral("Warte auf die Anmeldung im Browser …")
                           : kept  ? QStringLiteral("Angemeldet.")
                                   : QStringLiteral("Noch nicht angemeldet."));
}

QString SignInBox::tokenOwner() const
{
    return m_tokenUrl->text().trimmed() + QLatin1Char('\n') + m_authorizationUrl->text().trimmed() + QLatin1Char('\n') +
           m_clientId->text().trimmed();
}

} // namespace kadmel
