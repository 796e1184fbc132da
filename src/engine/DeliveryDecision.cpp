#include "engine/DeliveryDecision.h"

namespace kadmel {
namespace {

DeliveryDecision refused(RefusedPart part, StartCheck check, const QString& reason)
{
    return {std::nullopt, part, check, reason};
}

QString missingForSignIn(const char* field)
{
    return QStringLiteral("Die Anmeldung mit Passwort ist gewählt, aber %1 fehlt. Bitte die Einstellungen prüfen.")
        .arg(QLatin1String(field));
}

} // namespace

DeliveryDecision decideDelivery(const Settings& settings, const KadmelIni& ini)
{
    // An unreadable or misunderstood choice may have been "encrypted": nothing goes out rather than in the clear.
    if (!ini.encryption)
        return refused(RefusedPart::Encryption, StartCheck::UnusableEncryption, ini.encryptionProblem);
    // A sign-in the user did not choose is not tried.
    if (!ini.signIn)
        return refused(RefusedPart::SignIn, StartCheck::UnusableSignIn, ini.signInProblem);
    const AuthSetting& auth = *ini.signIn;
    if (auth.usesOAuth() && *ini.encryption == Encryption::Keine)
        return refused(RefusedPart::Encryption, StartCheck::OAuthNeedsEncryption,
                       QStringLiteral("OAuth 2.0 erfordert eine verschlüsselte Verbindung."));
    if (auth.usesOAuth() && !oauthSettingsComplete(settings, auth))
        return refused(
            RefusedPart::SignIn, StartCheck::IncompleteSmtp,
            QStringLiteral("Die Anmeldung mit OAuth 2.0 ist unvollständig. Bitte die Einstellungen prüfen."));

    // A password sign-in with a blank field would go out unauthenticated: refused here, never dropped later.
    if (!auth.usesOAuth() && authRequested(settings)) {
        if (blankAfterTrim(settings.SmtpUser))
            return refused(RefusedPart::SignIn, StartCheck::IncompleteSmtp, missingForSignIn("der Benutzername"));
        if (blankAfterTrim(settings.SmtpPassword))
            return refused(RefusedPart::SignIn, StartCheck::IncompleteSmtp, missingForSignIn("das Passwort"));
    }

    DeliveryDecision decision;
    DeliveryPlan& plan = decision.plan.emplace();
    plan.server.SMTPAuthUser = settings.SmtpUser;
    plan.server.SMTPAuthPass = settings.SmtpPassword;
    plan.server.SMTPAuth = authRequested(settings);
    plan.server.SMTPserver = settings.SmtpServer;
    plan.server.SMTPPort = settings.SmtpPort;
    plan.server.SMTPEncryption = *ini.encryption;
    plan.server.maxMessageBytes = maxMessageBytes(ini.maxMessageMB);
    if (auth.usesOAuth())
        plan.oauth = auth;
    decision.check = checkStartSettings(settings, auth);
    return decision;
}

} // namespace kadmel
