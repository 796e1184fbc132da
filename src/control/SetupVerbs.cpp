// The verbs that change the settings: einrichten and anmelden, saved as the settings dialog saves them.
#include "control/ControlProtocol.h"
#include "control/ControlReply.h"
#include "control/ControlVerbs.h"
#include "engine/AutostartEntry.h"
#include "engine/DeliveryDecision.h"
#include "engine/SettingsSave.h"
#include "signin/DeviceSignIn.h"
#include "store/Ansi.h"
#include "store/KadmelIni.h"
#include "store/Store.h"

#include <QCoreApplication>
#include <QJsonObject>

namespace kadmel {
namespace {

// The session's autostart entry stays as it is: the edit names it as it stands.
AutostartEntry sessionEntry()
{
    return AutostartEntry(QCoreApplication::applicationFilePath());
}

// The settings as they stand, as the dialog shows them before a change; nothing when the sign-in cannot be read.
std::optional<SettingsEdit> currentEdit(Store& store, QString* problem)
{
    const KadmelIni& ini = store.kadmelIni().read();
    if (!ini.signIn) {
        *problem = ini.signInProblem;
        return std::nullopt;
    }
    return SettingsEdit{store.settings(),
                        ini.encryption.value_or(Encryption::Keine),
                        *ini.signIn,
                        ini.retry,
                        ini.archiveFolder,
                        ini.receiptFolder,
                        sessionEntry().exists(),
                        ini.pace};
}

} // namespace

void ControlVerbs::setUp(const QStringList& args, ControlReply* reply)
{
    QString problem;
    std::optional<SettingsEdit> edit = currentEdit(m_store, &problem);
    if (!edit)
        return reply->refuse(problem);
    bool encryptionGiven = m_store.kadmelIni().read().encryption.has_value();
    if (args.isEmpty() || args.size() % 2)
        return reply->refuse(QStringLiteral("Falsche Angaben zu „einrichten“."), control::WrongArguments);
    for (qsizetype k = 0; k + 1 < args.size(); k += 2) {
        const QString& key = args.at(k);
        const QString& value = args.at(k + 1);
        if (key == QLatin1String("--server")) {
            edit->settings.SmtpServer = toAnsi(value);
        } else if (key == QLatin1String("--port")) {
            bool number = false;
            const int port = value.toInt(&number);
            if (!number || port < 1 || port > 32767)
                return reply->refuse(QStringLiteral("Ungültige Portnummer. Gültig sind die Zahlen von 1 bis 32767."),
                                     control::WrongArguments);
            edit->settings.SmtpPort = qint16(port);
        } else if (key == QLatin1String("--verschluesselung")) {
            const std::optional<Encryption> encryption = encryptionFromName(value);
            if (!encryption)
                return reply->refuse(QStringLiteral("Unbekannte Verschlüsselung „%1“; bekannt sind Keine, STARTTLS "
                                                    "und SSL/TLS.")
                                         .arg(value),
                                     control::WrongArguments);
            edit->encryption = *encryption;
            encryptionGiven = true;
        } else if (key == QLatin1String("--anmeldung")) {
            const std::optional<AuthMethod> method = authMethodFromName(value.toUtf8());
            if (!method)
                return reply->refuse(QStringLiteral("Unbekanntes Anmeldeverfahren „%1“; bekannt sind Kennwort, "
                                                    "OAuth2-Dienst, OAuth2-Browser und OAuth2-Geraetecode.")
                                         .arg(value),
                                     control::WrongArguments);
            edit->signIn.method = *method;
        } else if (key == QLatin1String("--benutzer")) {
            edit->settings.SmtpUser = toAnsi(value);
            edit->settings.UseSpa = value.isEmpty() ? 1 : 2; // no user: no sign-in
        } else if (key == QLatin1String("--kennwort")) {
            edit->settings.SmtpPassword = toAnsi(value);
        } else {
            return reply->refuse(QStringLiteral("Unbekannte Angabe „%1“ zu „einrichten“.").arg(key),
                                 control::WrongArguments);
        }
    }
    // A refresh token is kept only for a person's sign-in, as the dialog keeps it.
    if (edit->signIn.method != AuthMethod::OAuth2Browser && edit->signIn.method != AuthMethod::OAuth2Device) {
        edit->signIn.refreshToken.clear();
        edit->signIn.refreshTokenKey.clear();
    }
    if (!encryptionGiven) // kadmel.ini held no usable choice: it is named, none is assumed
        return reply->refuse(QStringLiteral("Bitte wählen Sie eine Verschlüsselung (--verschluesselung)."));
    KadmelIni asSet;
    asSet.encryption = edit->encryption;
    asSet.signIn = edit->signIn;
    if (const DeliveryDecision decision = decideDelivery(edit->settings, asSet);
        decision.check == StartCheck::OAuthNeedsEncryption)
        return reply->refuse(decision.reason);
    saveEdit(*edit, reply, QStringLiteral("Die Einstellungen sind gespeichert."));
}

void ControlVerbs::saveEdit(const SettingsEdit& edit, ControlReply* reply, const QString& done)
{
    if (m_placing)
        return reply->refuse(QStringLiteral("Gerade werden Einstellungen gespeichert; bitte danach erneut versuchen."));
    const auto save = [this](const SettingsEdit& edit, ControlReply* reply, const QString& done) {
        const QString problem = saveSettings(m_store, edit, sessionEntry(), m_secrets);
        if (!reply)
            return;
        if (!problem.isEmpty())
            return reply->refuse(QStringLiteral("Die Einstellungen konnten nicht gespeichert werden. ") + problem);
        reply->done(done);
    };
    if (!secretsToPlace(m_secrets, edit.signIn))
        return save(edit, reply, done);
    // The secrets go to their place first (the keyring where one takes them), then the files name it.
    m_placing = placeSecrets(m_secrets, edit.signIn);
    connect(m_placing.get(), &Job::finished, this, [this, edit, save, done, reply = QPointer(reply)]() mutable {
        SettingsEdit placed = edit;
        placed.signIn = *m_placing->setting();
        m_placing.release()->deleteLater(); // within its own signal
        save(placed, reply, done);
    });
}

void ControlVerbs::signIn(const QStringList& args, ControlReply* reply)
{
    if (!args.isEmpty())
        return reply->refuse(QStringLiteral("„anmelden“ nimmt keine Angaben."), control::WrongArguments);
    if (m_signIn)
        return reply->refuse(QStringLiteral("Gerade läuft schon eine Anmeldung."));
    const KadmelIni& ini = m_store.kadmelIni().read();
    if (!ini.signIn)
        return reply->refuse(ini.signInProblem);
    if (ini.signIn->method != AuthMethod::OAuth2Device)
        return reply->refuse(QStringLiteral("Im Terminal meldet man sich mit dem Verfahren OAuth2-Geraetecode an "
                                            "(kadmelctl einrichten --anmeldung OAuth2-Geraetecode)."));
    if (const QString problem = DeviceSignIn::startProblem(*ini.signIn); !problem.isEmpty())
        return reply->refuse(problem);
    const AuthSetting asked = *ini.signIn;
    m_signIn = startJob<DeviceSignIn>(asked, m_timings.signIn);
    SignInJob* job = m_signIn.get();
    // A caller who hangs up ends the sign-in.
    connect(reply, &QObject::destroyed, this, [this, job] {
        if (m_signIn.get() == job)
            m_signIn.reset();
    });
    connect(job, &SignInJob::waiting, reply, [job, reply] {
        const QString code = static_cast<DeviceSignIn*>(job)->userCode();
        reply->say(job->caption());
        reply->say(job->address().toString());
        reply->say(QStringLiteral("Warte auf die Anmeldung …"));
        reply->data(
            QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("adresse"), job->address().toString()}});
    });
    connect(job, &Job::finished, this, [this, job, asked, reply = QPointer(reply)] {
        m_signIn.release()->deleteLater(); // within its own signal
        if (!reply)
            return;
        disconnect(reply, &QObject::destroyed, this, nullptr);
        if (job->refreshToken().isEmpty())
            return reply->refuse(job->error());
        // A refresh token is good only for the endpoint and client it was given for.
        QString problem;
        std::optional<SettingsEdit> edit = currentEdit(m_store, &problem);
        if (!edit || edit->signIn.method != asked.method || edit->signIn.tokenUrl != asked.tokenUrl ||
            edit->signIn.clientId != asked.clientId)
            return reply->refuse(QStringLiteral("Die Einstellungen der Anmeldung haben sich während des "
                                                "Wartens geändert; bitte erneut anmelden."));
        edit->signIn.refreshToken = job->refreshToken();
        edit->signIn.refreshTokenKey.clear(); // a new token, placed as the dialog places it
        const QString account = job->account();
        saveEdit(*edit, reply,
                 account.isEmpty() ? QStringLiteral("Angemeldet.") : QStringLiteral("Angemeldet als %1.").arg(account));
    });
}

} // namespace kadmel
