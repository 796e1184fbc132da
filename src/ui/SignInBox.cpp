#include "ui/SignInBox.h"

#include "engine/SignInSecrets.h"
#include "engine/TokenRequest.h"
#include "signin/BrowserSignIn.h"
#include "signin/DeviceSignIn.h"

#include "store/Ansi.h"
#include "ui/Prompts.h"

#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

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

// Lines are broken by hand: a wrapping label in the dialog's grid is given too little height.
QLabel* note(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QWidget* rowOf(const QList<QWidget*>& widgets, int stretching, QWidget* parent)
{
    auto* holder = new QWidget(parent);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    for (QWidget* widget : widgets)
        row->addWidget(widget, widget == widgets.value(stretching) ? 1 : 0);
    return holder;
}

} // namespace

BrowserOpener systemBrowserOpener()
{
    return [](const QUrl& url) { return QDesktopServices::openUrl(url); };
}

SignInBox::SignInBox(Prompts& prompts, const SignInSetup& setup, QWidget* parent)
    : QGroupBox(QStringLiteral("OAuth 2.0"), parent), m_prompts(prompts), m_method(new QComboBox(parent)),
      m_authorizationLabel(new QLabel(this)), m_tokenUrl(field("TokenUrl", this)),
      m_authorizationUrl(field("AuthorizationUrl", this)), m_clientId(field("ClientId", this)),
      m_secret(field("ClientSecret", this)), m_scope(field("Scope", this)), m_filledNote(note("FilledNote", this)),
      m_googleDeviceNote(note("GoogleDeviceNote", this)),
      m_signIn(button(QStringLiteral("Im Browser anmelden…"), "SignIn", this)),
      m_signInState(note("SignInState", this)), m_secretsPlace(new QLabel(this)), m_userCode(note("UserCode", this)),
      m_address(field("SignInAddress", this)), m_setup(setup)
{
    setObjectName(QStringLiteral("SignInBox"));
    m_method->setObjectName(QStringLiteral("SignInMethod"));
    m_method->addItem(QStringLiteral("Passwort"), int(AuthMethod::Kennwort));
    m_method->addItem(QStringLiteral("OAuth 2.0 (Dienstkonto)"), int(AuthMethod::OAuth2Dienst));
    m_method->addItem(QStringLiteral("OAuth 2.0 (Browser-Anmeldung)"), int(AuthMethod::OAuth2Browser));
    m_method->addItem(QStringLiteral("OAuth 2.0 (Gerätecode)"), int(AuthMethod::OAuth2Device));
    m_secret->setEchoMode(QLineEdit::Password);
    m_secret->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    m_address->setReadOnly(true);
    m_googleDeviceNote->setText(QStringLiteral("Google lässt den Gmail-Bereich bei der Anmeldung mit Code nicht zu;\n"
                                               "für Gmail bitte „OAuth 2.0 (Browser-Anmeldung)“ wählen."));
    m_secretsPlace->setObjectName(QStringLiteral("SecretsPlace"));
    m_secretsPlace->setWordWrap(true); // a keyring's reason can be long

    auto* grid = new QGridLayout(this);
    const auto row = [&](QLabel* label, QWidget* widget) {
        const int r = grid->rowCount();
        if (label)
            grid->addWidget(label, r, 0);
        grid->addWidget(widget, r, 1);
        return label;
    };
    const auto caption = [this](const QString& text) { return new QLabel(text, this); };
    row(caption(QStringLiteral("Token-Adresse:")), m_tokenUrl);
    m_personOnly << row(m_authorizationLabel, m_authorizationUrl) << m_authorizationUrl;
    row(caption(QStringLiteral("Client-ID:")), m_clientId);
    row(caption(QStringLiteral("Client-Geheimnis:")), m_secret);
    row(caption(QStringLiteral("Bereich:")), m_scope);
    row(caption(QStringLiteral("Geheimnisse:")), m_secretsPlace);
    auto* microsoft = button(QStringLiteral("Microsoft 365"), "FillMicrosoft", this);
    auto* google = button(QStringLiteral("Google"), "FillGoogle", this);
    row(caption(QStringLiteral("Vorlage:")), rowOf({microsoft, google, new QWidget(this)}, 2, this));
    row(nullptr, m_filledNote);
    row(nullptr, m_googleDeviceNote);
    QWidget* signInRow = rowOf({m_signIn, m_signInState}, 1, this);
    row(nullptr, signInRow);
    m_personOnly << signInRow;
    auto* copy = button(QStringLiteral("Adresse kopieren"), "CopyAddress", this);
    auto* open = button(QStringLiteral("Im Browser öffnen"), "OpenAddress", this);
    // The code on a line of its own, the address with its buttons below it.
    m_address->setMinimumWidth(m_address->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 30);
    m_addressRow = new QWidget(this);
    auto* addressLines = new QVBoxLayout(m_addressRow);
    addressLines->setContentsMargins(0, 0, 0, 0);
    addressLines->addWidget(m_userCode);
    addressLines->addWidget(rowOf({m_address, copy, open}, 0, this));
    row(nullptr, m_addressRow);

    // Tab follows the rows downwards: the sign-in button was made before the template buttons above it.
    const QList<QWidget*> downwards{m_scope, microsoft, google, m_signIn, m_address, copy, open};
    for (qsizetype i = 1; i < downwards.size(); ++i)
        setTabOrder(downwards.at(i - 1), downwards.at(i));

    connect(m_method, &QComboBox::currentIndexChanged, this, &SignInBox::methodChosen);
    connect(microsoft, &QPushButton::clicked, this, &SignInBox::fillMicrosoft);
    connect(google, &QPushButton::clicked, this, [this] { fill(Provider::Google, {}); });
    connect(m_signIn, &QPushButton::clicked, this, &SignInBox::signInOrCancel);
    connect(copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_address->text()); });
    connect(open, &QPushButton::clicked, this, [this] {
        // Where no browser can be opened (a terminal server), the button must not just do nothing.
        if (!m_setup.opener || !m_setup.opener(QUrl(m_address->text(), QUrl::StrictMode)))
            m_prompts.ask(window(),
                          QStringLiteral("Es konnte kein Browser geöffnet werden. Bitte kopieren Sie die Adresse "
                                         "und öffnen Sie sie in einem Browser, auch auf einem anderen Gerät."),
                          PromptIcon::Exclamation, PromptButtons::Ok);
    });
    for (QLineEdit* owner : {m_tokenUrl, m_authorizationUrl, m_clientId})
        connect(owner, &QLineEdit::textChanged, this, &SignInBox::showSignInState);
    // The template's note speaks of its addresses; once the user typed others it no longer holds.
    for (QLineEdit* filled : {m_tokenUrl, m_authorizationUrl, m_scope})
        connect(filled, &QLineEdit::textEdited, this, [this] {
            if (m_filled && filledValues() != m_filled->values) {
                m_filledNote->clear();
                showSignInState();
            }
        });
    showSetting(AuthSetting{});
}

void SignInBox::setUserName(const QString& user)
{
    m_userName = user.trimmed();
    showSignInState();
}

std::optional<AuthMethod> SignInBox::method() const
{
    if (m_method->currentIndex() < 0)
        return std::nullopt;
    return AuthMethod(m_method->currentData().toInt());
}

bool SignInBox::signsInAsPerson() const
{
    const std::optional<AuthMethod> chosen = method();
    return chosen == AuthMethod::OAuth2Browser || chosen == AuthMethod::OAuth2Device;
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
    const QString place = secretsPlaceText(shown);
    m_secretsPlace->setText(place.isEmpty() ? QStringLiteral("keine gespeichert") : place);
    m_refreshTokenOwner = tokenOwner();
    m_account.clear();
    m_filled.reset();
    m_filledNote->clear();
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
    if (signsInAsPerson() && m_refreshTokenOwner == tokenOwner()) {
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
    const bool person = signsInAsPerson();
    const auto missing = [](QLineEdit* edit, const QString& text) {
        edit->setFocus();
        return text;
    };
    const QString authorization = chosen == AuthMethod::OAuth2Device ? QStringLiteral("Gerätecode-Adresse")
                                                                     : QStringLiteral("Autorisierungsadresse");
    for (const auto& [edit, name] :
         {std::pair{m_tokenUrl, QStringLiteral("Token-Adresse")}, std::pair{m_authorizationUrl, authorization}}) {
        if (edit == m_authorizationUrl && !person)
            continue;
        if (edit->text().trimmed().isEmpty())
            return missing(edit, QStringLiteral("Bitte geben Sie die %1 an.").arg(name));
        if (!isSafeOAuthAddress(QUrl(edit->text().trimmed(), QUrl::StrictMode)))
            return missing(edit, QStringLiteral("Die %1 muss eine https-Adresse sein.").arg(name));
    }
    if (m_clientId->text().trimmed().isEmpty())
        return missing(m_clientId, QStringLiteral("Bitte geben Sie die Client-ID an."));
    const bool secretUnread = !m_secretKey.isEmpty() && m_storedSecret.isEmpty(); // stays in the keyring
    if (!person && m_secret->text().isEmpty() && !secretUnread)
        return missing(m_secret, QStringLiteral("Bitte geben Sie das Client-Geheimnis an."));
    return {};
}

void SignInBox::methodChosen()
{
    const std::optional<AuthMethod> chosen = method();
    const bool oauth = chosen && *chosen != AuthMethod::Kennwort;
    const bool person = signsInAsPerson();
    if (chosen != m_shownMethod)
        m_job.reset();
    m_addressRow->hide();
    m_authorizationLabel->setText(chosen == AuthMethod::OAuth2Device ? QStringLiteral("Gerätecode-Adresse:")
                                                                     : QStringLiteral("Autorisierungsadresse:"));
    // A template's addresses and scope differ by method: while the fields hold what it filled in, they follow.
    if (oauth && m_filled && m_shownMethod != chosen && filledValues() == m_filled->values)
        fill(m_filled->provider, m_filled->tenant);
    m_shownMethod = chosen;
    for (QWidget* widget : m_personOnly)
        widget->setVisible(person);
    m_secret->setPlaceholderText(person ? QStringLiteral("optional") : QString());
    setVisible(oauth);
    showSignInState();
    Q_EMIT usesOAuthChanged(oauth);
    fitDialog();
}

// The dialog grows with the notes and the address, and shrinks again when the OAuth rows go.
void SignInBox::fitDialog()
{
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
    fill(Provider::Microsoft, tenant);
}

// The provider's addresses and scope for the chosen method, and its server; what changed is listed below.
void SignInBox::fill(Provider provider, const QString& tenant)
{
    const bool person = signsInAsPerson(), device = method() == AuthMethod::OAuth2Device;
    const bool microsoft = provider == Provider::Microsoft;
    const QString base = QStringLiteral("https://login.microsoftonline.com/%1/oauth2/v2.0/").arg(tenant);
    // "openid email" makes the service name the signed-in account.
    const QString token =
        microsoft ? base + QStringLiteral("token") : QStringLiteral("https://oauth2.googleapis.com/token");
    const QString authorization = microsoft
                                      ? base + (device ? QStringLiteral("devicecode") : QStringLiteral("authorize"))
                                      : (device ? QStringLiteral("https://oauth2.googleapis.com/device/code")
                                                : QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"));
    // IMAP.AccessAsUser.All beside SMTP.Send: the same token reads the mailbox's delivery reports.
    const QString scope =
        microsoft
            ? (person ? QStringLiteral("https://outlook.office.com/SMTP.Send "
                                       "https://outlook.office.com/IMAP.AccessAsUser.All offline_access openid email")
                      : QStringLiteral("https://outlook.office365.com/.default"))
            : QStringLiteral("https://mail.google.com/") + (person ? QStringLiteral(" openid email") : QString());
    QStringList changed;
    const auto set = [&changed](QLineEdit* edit, const QString& value, const QString& name) {
        if (edit->text() != value)
            changed << name;
        edit->setText(value);
        edit->setCursorPosition(0); // a long address shows its start
    };
    set(m_tokenUrl, token, QStringLiteral("Token-Adresse"));
    if (person)
        set(m_authorizationUrl, authorization, m_authorizationLabel->text().chopped(1));
    set(m_scope, scope, QStringLiteral("Bereich"));
    if (m_serverFill)
        // The providers' limits: Microsoft's per mailbox, Google's per user.
        changed += m_serverFill(microsoft ? QStringLiteral("smtp.office365.com") : QStringLiteral("smtp.gmail.com"),
                                587, Encryption::StartTls, microsoft ? 30 : 20, microsoft ? 10000 : 2000);
    const QString name = microsoft ? QStringLiteral("Microsoft 365") : QStringLiteral("Google");
    m_filledNote->setText(changed.isEmpty() ? QStringLiteral("Die Vorlage „%1“ hat nichts geändert.").arg(name)
                                            : QStringLiteral("Die Vorlage „%1“ hat diese Felder geändert:\n%2.")
                                                  .arg(name, changed.join(QStringLiteral(", "))));
    m_filled = Filled{provider, tenant, filledValues()};
    showSignInState();
    fitDialog();
}

QStringList SignInBox::filledValues() const
{
    return {m_tokenUrl->text(), m_authorizationUrl->text(), m_scope->text()};
}

void SignInBox::signInOrCancel()
{
    m_addressRow->hide();
    if (isSigningIn()) {
        m_job.reset();
        return showSignInState();
    }
    const bool device = method() == AuthMethod::OAuth2Device;
    QString error = problem();
    if (error.isEmpty())
        error = device ? DeviceSignIn::startProblem(*setting()) : BrowserSignIn::startProblem(*setting());
    if (!error.isEmpty()) {
        m_prompts.ask(window(), error, PromptIcon::Exclamation, PromptButtons::Ok);
        return showSignInState();
    }
    m_signingInFor = tokenOwner(); // fields edited while the browser is open do not own the token
    if (device)
        m_job = startJob<DeviceSignIn>(*setting(), m_setup.timings);
    else
        m_job = startJob<BrowserSignIn>(*setting(), m_userName, m_setup.opener, m_setup.timings);
    connect(m_job.get(), &SignInJob::waiting, this, [this] { showAddress(m_job->address(), m_job->caption()); });
    connect(m_job.get(), &Job::finished, this, &SignInBox::signInEnded);
    showSignInState();
}

void SignInBox::signInEnded()
{
    const JobPtr<SignInJob> job = std::move(m_job);
    m_addressRow->hide();
    if (!job->refreshToken().isEmpty()) {
        m_refreshToken = job->refreshToken();
        m_refreshTokenKey.clear(); // a new token, to be placed at OK
        m_refreshTokenOwner = m_signingInFor;
        m_account = job->account();
        m_signedInHere = true;
    }
    showSignInState();
    if (!job->error().isEmpty())
        m_prompts.ask(window(), job->error(), PromptIcon::Critical, PromptButtons::Ok);
}

// The address to open by hand while the attempt waits: the browser's page, or where the device code is typed in.
void SignInBox::showAddress(const QUrl& address, const QString& caption)
{
    m_userCode->setText(caption);
    m_address->setText(address.toString(QUrl::FullyEncoded));
    m_address->setCursorPosition(0);
    m_addressRow->show();
    fitDialog();
}

void SignInBox::showSignInState()
{
    const bool running = isSigningIn();
    const bool device = method() == AuthMethod::OAuth2Device;
    const bool kept =
        (!m_refreshToken.isEmpty() || !m_refreshTokenKey.isEmpty()) && m_refreshTokenOwner == tokenOwner();
    m_googleDeviceNote->setVisible(device && (m_tokenUrl->text().contains(QLatin1String("googleapis.com")) ||
                                              (m_filled && m_filled->provider == Provider::Google)));
    m_filledNote->setVisible(!m_filledNote->text().isEmpty());
    m_signIn->setText(running  ? QStringLiteral("Anmeldung abbrechen")
                      : device ? QStringLiteral("Mit Code anmelden…")
                               : QStringLiteral("Im Browser anmelden…"));
    QString state = running               ? (device ? QStringLiteral("Warte auf die Anmeldung mit Code …")
                                                    : QStringLiteral("Warte auf die Anmeldung im Browser …"))
                    : !kept               ? QStringLiteral("Noch nicht angemeldet.")
                    : m_account.isEmpty() ? QStringLiteral("Angemeldet.")
                                          : QStringLiteral("Angemeldet als %1.").arg(m_account);
    // XOAUTH2 names the user; a token of another mailbox is refused with "535 5.7.3".
    if (!running && kept && !m_account.isEmpty() && m_account.compare(m_userName, Qt::CaseInsensitive) != 0)
        state += QStringLiteral("\nAchtung: Der Benutzername ist „%1“;\nder Mailserver nimmt das Token nur für %2 an.")
                     .arg(m_userName, m_account);
    m_signInState->setText(state);
}

QString SignInBox::tokenOwner() const
{
    return m_tokenUrl->text().trimmed() + QLatin1Char('\n') + m_authorizationUrl->text().trimmed() + QLatin1Char('\n') +
           m_clientId->text().trimmed();
}

} // namespace kadmel
