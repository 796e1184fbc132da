#include "ui/Form5.h"

#include "engine/DeliveryDecision.h"
#include "engine/SettingsSave.h"
#include "engine/SignInSecrets.h"

#include "store/Ansi.h"
#include "store/KadmelIni.h"
#include "store/Store.h"
#include "ui/FileDialogs.h"
#include "ui/Pictures.h"
#include "ui/PortText.h"
#include "ui/Prompts.h"
#include "ui/ScreenRoom.h"
#include "ui/SignInBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <tuple>

namespace kadmel {

namespace {

// The folder itself, or the nearest one above it that exists; the home folder when none does.
QString nearestExistingFolder(QString path)
{
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return !path.isEmpty() && QFileInfo(path).isDir() ? path : QDir::homePath();
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* textBox(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    return edit;
}

// A sending limit as typed (confirm() checked it): empty is none.
std::optional<qint32> limitOf(const QLineEdit* edit)
{
    bool ok = false;
    const int value = edit->text().toInt(&ok);
    return ok ? std::optional<qint32>(value) : std::nullopt;
}

// The dialog's rows. It asks for room for all of them; where the screen is too low, they scroll.
class RowsArea : public QScrollArea
{
public:
    using QScrollArea::QScrollArea;
    QSize sizeHint() const override { return widget() ? widget()->sizeHint() : QScrollArea::sizeHint(); }
};

} // namespace

FolderPicker systemFolderPicker()
{
    return [](QWidget* parent) {
        // The picker opens at the folder the settings dialog shows.
        const auto* dialog = qobject_cast<const Form5*>(parent);
        QFileDialog picker(parent, QString(), nearestExistingFolder(dialog ? dialog->folderValue() : QString()));
        useFolderPicker(picker);
        return picker.exec() == QDialog::Accepted ? picker.selectedFiles().value(0) : QString();
    };
}

Form5::Form5(Store& store, Prompts& prompts, FolderPicker picker, QWidget* parent, const SignInSetup& browserSignIn,
             SecretStore* secrets)
    : QDialog(parent), m_store(store), m_prompts(prompts), m_secrets(secrets), m_picker(std::move(picker)),
      m_folderLabel(new QLabel(this)), m_server(textBox("Text1", this)), m_port(textBox("Text4", this)),
      m_encryption(new QComboBox(this)), m_signIn(new SignInBox(prompts, browserSignIn, this)),
      m_user(textBox("Text2", this)), m_password(textBox("Text3", this)),
      m_spa(new QCheckBox(QStringLiteral("Kennwortauthentifizierung (SPA)"), this)),
      m_autoStart(new QCheckBox(QStringLiteral("ZUB Auto-Start"), this)),
      m_withSession(new QCheckBox(QStringLiteral("Beim Anmelden am Desktop starten"), this)),
      m_retry(new QCheckBox(QStringLiteral("Fehlgeschlagene E-Mails automatisch erneut senden"), this)),
      m_archive(textBox("ArchiveFolder", this)), m_receipts(textBox("ReceiptFolder", this)),
      m_perMinute(textBox("MailsPerMinute", this)), m_perDay(textBox("MailsPerDay", this)),
      m_sessionEntry(QCoreApplication::applicationFilePath()), m_rows(new RowsArea(this))
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowIcon(programIcon());
    m_folderLabel->setObjectName(QStringLiteral("Label2"));
    m_folderLabel->setTextFormat(Qt::PlainText);
    m_folderLabel->setFrameShape(QFrame::StyledPanel);
    m_folderLabel->setMinimumWidth(220);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*" for each character
    m_encryption->setObjectName(QStringLiteral("Encryption"));
    for (const Encryption e : {Encryption::Keine, Encryption::StartTls, Encryption::SslTls})
        m_encryption->addItem(encryptionName(e));
    m_spa->setObjectName(QStringLiteral("Check1"));
    m_autoStart->setObjectName(QStringLiteral("Check2"));
    m_withSession->setObjectName(QStringLiteral("StartWithSession"));
    m_retry->setObjectName(QStringLiteral("RetryFailed"));

    auto* browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setObjectName(QStringLiteral("Command6"));
    browseButton->setAutoDefault(false);
    browseButton->setFixedWidth(browseButton->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 24);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancel->setObjectName(QStringLiteral("Command2"));
    cancel->setAutoDefault(false);

    auto* rows = new QWidget;
    rows->installEventFilter(this); // a row shown or hidden: the dialog takes the new height, as far as it may
    auto* grid = new QGridLayout(rows);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folderLabel, 1);
    folderRow->addWidget(browseButton);
    grid->addWidget(caption(QStringLiteral("KADMEL Ordner:"), this), 0, 0);
    grid->addLayout(folderRow, 0, 1);
    grid->addWidget(caption(QStringLiteral("SMTP Server:"), this), 1, 0);
    grid->addWidget(m_server, 1, 1);
    grid->addWidget(caption(QStringLiteral("Port:"), this), 2, 0);
    grid->addWidget(m_port, 2, 1);
    grid->addWidget(caption(QStringLiteral("Verschlüsselung:"), this), 3, 0);
    grid->addWidget(m_encryption, 3, 1);
    grid->addWidget(caption(QStringLiteral("Anmeldung:"), this), 4, 0);
    grid->addWidget(m_signIn->methodBox(), 4, 1);
    grid->addWidget(m_signIn, 5, 0, 1, 2);
    grid->addWidget(caption(QStringLiteral("Benuztername:"), this), 6, 0);
    grid->addWidget(m_user, 6, 1);
    grid->addWidget(caption(QStringLiteral("Passwort:"), this), 7, 0);
    grid->addWidget(m_password, 7, 1);
    grid->addWidget(m_spa, 8, 1);
    auto* autoStartRows = new QVBoxLayout; // the retry choice right below "ZUB Auto-Start"
    autoStartRows->addWidget(m_autoStart);
    autoStartRows->addWidget(m_retry);
    grid->addLayout(autoStartRows, 9, 1);
    grid->addWidget(m_withSession, 10, 1);
    // A folder of kadmel.ini's own: typed, or chosen through "..." with the watched folder's picker.
    const auto addFolderRow = [&](const QString& text, QLineEdit* edit, const char* buttonName, int row) {
        auto* line = new QHBoxLayout;
        auto* button = new QPushButton(QStringLiteral("..."), this);
        button->setObjectName(QLatin1String(buttonName));
        button->setAutoDefault(false);
        button->setFixedWidth(browseButton->minimumWidth());
        line->addWidget(edit, 1);
        line->addWidget(button);
        grid->addWidget(caption(text, this), row, 0);
        grid->addLayout(line, row, 1);
        edit->setClearButtonEnabled(true);
        connect(button, &QPushButton::clicked, edit, [this, edit] {
            if (const QString chosen = pickFolder(); !chosen.isEmpty())
                edit->setText(chosen);
        });
    };
    addFolderRow(QStringLiteral("Archivordner:"), m_archive, "ArchiveBrowse", 11);
    addFolderRow(QStringLiteral("Quittungsordner:"), m_receipts, "ReceiptBrowse", 12);
    auto* paceRow = new QHBoxLayout;
    for (const auto& [edit, most, unit] : {std::tuple{m_perMinute, MostMailsPerMinute, QStringLiteral("pro Minute")},
                                           std::tuple{m_perDay, MostMailsPerDay, QStringLiteral("pro Tag")}}) {
        edit->setValidator(new QIntValidator(0, most, edit));
        edit->setMaximumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 16);
        paceRow->addWidget(edit);
        paceRow->addWidget(caption(unit, this));
    }
    paceRow->addStretch();
    grid->addWidget(caption(QStringLiteral("E-Mails höchstens:"), this), 13, 0);
    grid->addLayout(paceRow, 13, 1);
    grid->addWidget(caption(QStringLiteral("leer = ein Auftrag alle 5 Sekunden; 0 = ohne Grenze"), this), 14, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    m_rows->setWidget(rows);
    m_rows->setWidgetResizable(true);
    m_rows->setFrameShape(QFrame::NoFrame);
    m_rows->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_rows->setFocusPolicy(Qt::NoFocus); // no Tab stop of its own: it scrolls to the field that has the focus
    auto* dialogLayout = new QVBoxLayout(this);
    dialogLayout->addWidget(m_rows, 1);
    dialogLayout->addLayout(buttons); // OK and Abbrechen stay in sight, however the rows scroll

    const Settings& s = m_store.settings();
    const KadmelIni& ini = m_store.kadmelIni().read();
    m_folder = fromAnsi(s.WatchFolder);
    showFolder();
    m_server->setText(fromAnsi(s.SmtpServer));
    m_port->setText(QString::number(s.SmtpPort == 0 ? DefaultPort : s.SmtpPort)); // 0: never set
    // An unusable choice shows none, so that OK cannot turn it into "Keine" unnoticed.
    if (ini.encryption)
        m_encryption->setCurrentText(encryptionName(*ini.encryption));
    else
        m_encryption->setCurrentIndex(-1);
    // With OAuth the token takes the password's place.
    connect(m_signIn, &SignInBox::usesOAuthChanged, this, [this](bool oauth) {
        m_password->setEnabled(!oauth);
        m_spa->setEnabled(!oauth);
    });
    connect(m_user, &QLineEdit::textChanged, m_signIn, &SignInBox::setUserName);
    m_signIn->setServerFill([this](const QString& server, qint16 port, Encryption e, qint32 perMinute, qint32 perDay) {
        QStringList changed;
        for (const auto& [edit, value, name] :
             {std::tuple{m_server, server, QStringLiteral("Server")},
              std::tuple{m_port, QString::number(port), QStringLiteral("Port")},
              std::tuple{m_perMinute, QString::number(perMinute), QStringLiteral("E-Mails pro Minute")},
              std::tuple{m_perDay, QString::number(perDay), QStringLiteral("E-Mails pro Tag")}}) {
            if (edit->text() != value)
                changed << name;
            edit->setText(value);
        }
        if (m_encryption->currentText() != encryptionName(e))
            changed << QStringLiteral("Verschlüsselung");
        m_encryption->setCurrentText(encryptionName(e));
        return changed;
    });
    m_signIn->showSetting(ini.signIn);
    if (ini.signIn && ini.signIn->inKeyring()) {
        m_readingSecrets = readSecrets(m_secrets, *ini.signIn);
        connect(m_readingSecrets.get(), &Job::finished, this, [this] {
            const JobPtr<SecretsJob> read = std::move(m_readingSecrets);
            m_signIn->showSecrets(read->setting(), read->error());
        });
    }
    m_user->setText(fromAnsi(s.SmtpUser));
    m_password->setText(fromAnsi(s.SmtpPassword));
    // A value other than 1 or 2 (never set) leaves its box unticked.
    m_spa->setChecked(s.UseSpa == 2);
    m_autoStart->setChecked(s.AutoStart == 2);
    m_withSession->setChecked(m_sessionEntry.exists());
    m_retry->setChecked(ini.retry);
    m_archive->setText(ini.archiveFolder.path());
    m_archive->setPlaceholderText(QStringLiteral("(keine Archivierung)"));
    m_receipts->setText(ini.receiptFolder.path());
    m_receipts->setPlaceholderText(QStringLiteral("(keine Quittungen)"));
    for (const auto& [edit, limit] : {std::pair{m_perMinute, ini.pace.perMinute}, std::pair{m_perDay, ini.pace.perDay}})
        edit->setText(limit ? QString::number(*limit) : QString());

    connect(browseButton, &QPushButton::clicked, this, &Form5::browse);
    connect(ok, &QPushButton::clicked, this, &Form5::confirm);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QSize Form5::wantedSize() const
{
    m_rows->updateGeometry();
    QSize wanted = sizeHint();
    const QMargins frame = windowFrame(*this);
    if (wanted.height() + frame.top() + frame.bottom() > availableArea(*this).height())
        wanted.rwidth() += m_rows->verticalScrollBar()->sizeHint().width(); // the rows scroll: room for the bar
    return wanted;
}

void Form5::showEvent(QShowEvent* event)
{
    resize(wantedSize()); // the first size, before the dialog is centred over its parent with it
    QDialog::showEvent(event);
    m_fittedHint = sizeHint();
    keepOnScreen(*this, wantedSize());
}

bool Form5::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::LayoutRequest && isVisible() && !m_fitQueued) {
        m_fitQueued = true; // once the rows are laid out again
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_fitQueued = false;
                // Only a change of the rows resizes; a size the user gave the dialog stays otherwise.
                m_rows->updateGeometry();
                if (const QSize hint = sizeHint(); hint != m_fittedHint) {
                    m_fittedHint = hint;
                    keepOnScreen(*this, wantedSize());
                }
            },
            Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

void Form5::showFolder()
{
    m_folderLabel->setText(m_folder);
    m_folderLabel->setToolTip(m_folder);
}

QString Form5::pickFolder()
{
    setEnabled(false);
    const QString chosen = m_picker ? m_picker(this) : QString();
    setEnabled(true);
    raise();
    activateWindow();
    return chosen;
}

void Form5::browse()
{
    if (const QString chosen = pickFolder(); !chosen.isEmpty()) {
        m_folder = chosen;
        showFolder();
    }
}

void Form5::confirm()
{
    const std::optional<qint16> port = parsePortText(m_port->text());
    if (!port) {
        m_prompts.ask(this, QStringLiteral("Ungültige Portnummer.\nGültig sind die Zahlen von 1 bis 32767."),
                      PromptIcon::Exclamation, PromptButtons::Ok);
        m_port->setFocus();
        return;
    }
    // A limit out of range is said, never saved as none.
    for (const auto& [edit, unit] :
         {std::pair{m_perMinute, QStringLiteral("Minute")}, std::pair{m_perDay, QStringLiteral("Tag")}}) {
        if (!edit->text().isEmpty() && !edit->hasAcceptableInput()) {
            m_prompts.ask(
                this,
                QStringLiteral("Ungültige Zahl der E-Mails pro %1.\nGültig sind die Zahlen von 0 bis %2; leer "
                               "heißt: ein Auftrag alle 5 Sekunden.")
                    .arg(unit)
                    .arg(qobject_cast<const QIntValidator*>(edit->validator())->top()),
                PromptIcon::Exclamation, PromptButtons::Ok);
            return edit->setFocus();
        }
    }
    const auto saveFailed = [this](const QString& error) {
        m_prompts.ask(this, QStringLiteral("Die Einstellungen konnten nicht gespeichert werden.\n") + error,
                      PromptIcon::Critical, PromptButtons::Ok);
    };
    const std::optional<Encryption> encryption = encryptionFromName(m_encryption->currentText());
    if (!encryption) // kadmel.ini held no usable choice: the user picks one, none is assumed
        return saveFailed(QStringLiteral("Bitte wählen Sie eine Verschlüsselung."));
    const std::optional<AuthSetting> shownSignIn = m_signIn->setting();
    if (!shownSignIn)
        return void(m_prompts.ask(this, m_signIn->problem(), PromptIcon::Exclamation, PromptButtons::Ok));
    Settings edited = m_store.settings();
    edited.WatchFolder = toAnsi(m_folder);
    edited.SmtpServer = toAnsi(m_server->text());
    edited.SmtpPort = *port;
    edited.SmtpUser = toAnsi(m_user->text());
    edited.SmtpPassword = toAnsi(m_password->text());
    edited.UseSpa = m_spa->isChecked() ? 2 : 1;
    edited.AutoStart = m_autoStart->isChecked() ? 2 : 1;
    KadmelIni asShown;
    asShown.encryption = encryption;
    asShown.signIn = shownSignIn;
    // The delivery decision has the word on encryption; the fields say which of them is missing.
    const DeliveryDecision decision = decideDelivery(edited, asShown);
    QString problem = decision.check == StartCheck::OAuthNeedsEncryption ? decision.reason : QString();
    if (problem.isEmpty())
        problem = m_signIn->problem();
    if (!problem.isEmpty())
        return void(m_prompts.ask(this, problem, PromptIcon::Exclamation, PromptButtons::Ok));
    // The secrets go to their place first (the keyring where one takes them), then the files name it.
    const AuthSetting signIn = m_signIn->settingToSave(m_store.kadmelIni().read().signIn);
    if (!secretsToPlace(m_secrets, signIn))
        return save(edited, *encryption, signIn);
    setEnabled(false);
    m_placingSecrets = placeSecrets(m_secrets, signIn);
    connect(m_placingSecrets.get(), &Job::finished, this, [this, edited, encryption] {
        const JobPtr<SecretsJob> placed = std::move(m_placingSecrets);
        setEnabled(true);
        save(edited, *encryption, *placed->setting());
    });
}

void Form5::save(const Settings& edited, Encryption encryption, const AuthSetting& signIn)
{
    const SettingsEdit edit{edited,
                            encryption,
                            signIn,
                            m_retry->isChecked(),
                            FolderSetting::typed(m_archive->text()),
                            FolderSetting::typed(m_receipts->text()),
                            m_withSession->isChecked(),
                            {limitOf(m_perMinute), limitOf(m_perDay)}};
    if (const QString problem = saveSettings(m_store, edit, m_sessionEntry, m_secrets); !problem.isEmpty())
        return void(m_prompts.ask(this,
                                  QStringLiteral("Die Einstellungen konnten nicht gespeichert werden.\n") + problem,
                                  PromptIcon::Critical, PromptButtons::Ok));
    Q_EMIT settingsSaved();
    accept();
}

} // namespace kadmel
