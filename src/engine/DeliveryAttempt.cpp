#include "engine/DeliveryAttempt.h"

#include "engine/DeliveryDecision.h"
#include "engine/HtmlBody.h"
#include "engine/MailExport.h"
#include "engine/OAuthTokenSource.h"
#include "engine/OffThread.h"
#include "engine/SignInSecrets.h"
#include "smtp/Base64.h"
#include "smtp/Message.h"
#include "store/Ansi.h"
#include "store/AuthSetting.h"
#include "store/KadmelIni.h"
#include "store/MailExtras.h"
#include "store/ResultCode.h"

#include <optional>
#include <utility>

namespace kadmel {
namespace {

constexpr char CrLf[] = "\r\n";

} // namespace

struct DeliveryAttempt::Private
{
    Private(Store& s, DispatcherView& v, const EngineTimings& t, SecretStore* keyring)
        : store(s), view(v), timings(t), secrets(keyring), smtp(t.smtp), tokens(s.kadmelIni(), t.tokenMs, keyring)
    {}

    struct Page
    {
        QByteArray html;
        QByteArray base64; // made beside the window's thread for a big mail only
        QList<MailAttachment> files;
        QString problem; // an attachment's copy that could not be read
    };

    Store& store;
    DispatcherView& view;
    EngineTimings timings;
    SecretStore* secrets;
    JobPtr<SecretsJob> readingSecrets;
    JobPtr<AccessTokenJob> token;
    ZUB_SMTP smtp;
    OAuthTokenSource tokens;
    SmtpServer tokenServer; // the mail in hand's server while its token is being got
    // Filed in place of the conversation when the sign-in failed before one began.
    std::optional<SmtpLog> signInLog;
    SmtpLog& ownSignInLog()
    {
        if (!signInLog) {
            signInLog.emplace();
            signInLog->reset(); // as before every send attempt
        }
        return *signInLog;
    }
    Page page;
    bool more = false;      // the connection stays open for the next mail
    std::optional<Cut> cut; // abort() was asked during this attempt
    OffThread worker;       // last: destroyed first, it waits for a page still being built
};

DeliveryAttempt::DeliveryAttempt(Store& store, DispatcherView& view, const EngineTimings& timings, SecretStore* secrets,
                                 QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(store, view, timings, secrets))
{
    // Queued: the client may report a refusal from inside SendMail, before the caller has returned.
    connect(&d->smtp, &ZUB_SMTP::finished, this, &DeliveryAttempt::reportOutcome, Qt::QueuedConnection);
    connect(&d->smtp, &ZUB_SMTP::statusText, this, [this](const QByteArray& text) { d->view.setMessage(text); });
    connect(&d->smtp, &ZUB_SMTP::progress, this,
            [this](qint32 value, qint32 maximum, qint16 option) { d->view.SetPBValue(value, maximum, option); });
    // The next mail goes on the settings as they are now.
    connect(&store.kadmelIni(), &KadmelIniFile::changed, this, &DeliveryAttempt::release);
}

DeliveryAttempt::~DeliveryAttempt() = default;

void DeliveryAttempt::start(qint16 id, bool more)
{
    d->cut.reset();
    d->more = more;
    const MailRecord record = d->store.tables().mail(id);
    const QByteArray& body = record.Body;
    const bool attaches = !extrasOf(record).attachments.isEmpty(); // read and encoded beside the window's thread
    const bool beside = body.size() >= d->timings.offThreadBytes || attaches;
    OffThread& worker = d->worker;
    DispatcherView& view = d->view;
    const QString programFolder = d->store.programFolder();
    const auto build = [record, body, beside, programFolder, &worker, &view] {
        Private::Page page;
        SmtpMail files;
        if (!attachFiles(files, programFolder, record, true, &page.problem))
            return page;
        page.files = std::move(files.MailAttachments);
        page.html = ComposeHtmlBody(body, [&](qint32 value, qint32 maximum, qint16 option) {
            if (beside)
                worker.post([&view, value, maximum, option] { view.SetPBValue(value, maximum, option); });
            else
                view.SetPBValue(value, maximum, option);
        });
        if (beside)
            page.base64 = Encode(page.html);
        return page;
    };
    d->worker.run(beside, build, [this, id](Private::Page page) {
        d->page = std::move(page);
        if (!d->page.problem.isEmpty())
            return failSignIn(ResultCode::Refused, toAnsi(d->page.problem));
        SendMailItem(id);
        if (d->cut) // asked while the page was being built
            abort(*d->cut);
    });
}

void DeliveryAttempt::abort(Cut cut)
{
    d->cut = cut;
    if (d->smtp.isBusy())
        d->smtp.abort(cut);
    if (d->token || d->readingSecrets) {
        d->token.reset();
        d->readingSecrets.reset();
        failSignIn(ResultCode::SignInFailed, cut == Cut::Person
                                                 ? "Die Anmeldung wurde abgebrochen: Vom Benutzer gestoppt."
                                                 : "Die Anmeldung wurde abgebrochen: Das Programm wird beendet.");
    }
}

void DeliveryAttempt::release()
{
    d->smtp.quitKept();
}

SmtpLog DeliveryAttempt::takeLog()
{
    return d->signInLog ? *std::exchange(d->signInLog, std::nullopt) : d->smtp.CurrentLog();
}

void DeliveryAttempt::reportOutcome(const DeliveryOutcome& outcome)
{
    if (d->smtp.tokenRefused())
        d->tokens.forget();
    Q_EMIT finished(outcome);
}

void DeliveryAttempt::SendMailItem(qint16 id)
{
    const MailRecord& record = d->store.tables().mail(id);

    SmtpMail mail = smtpMailOf(record, id);
    mail.MailBody = std::move(d->page.html); // built in start()
    mail.MailBodyBase64 = std::move(d->page.base64);
    mail.MailAttachments = std::move(d->page.files);
    // The connection starts from an empty bar, not from the finished page.
    d->view.SetPBValue(0, 8, 1);

    d->smtp.setMail(mail);
    signInAndSend();
}

StartCheck DeliveryAttempt::checkStart(const Settings& settings, QString* reason)
{
    const KadmelIni& ini = d->store.kadmelIni().read();
    const DeliveryDecision decision = decideDelivery(settings, ini);
    // A missing field has the message of old, naming the field; a sign-in that is understood is asked.
    if (decision.check == StartCheck::IncompleteSmtp)
        *reason = QStringLiteral("Überprüfen Sie Ihre Einstellungen !...\nEs fehlt: ") +
                  missingStartField(settings, *ini.signIn);
    else
        *reason = decision.reason;
    return decision.check;
}

void DeliveryAttempt::signInAndSend()
{
    d->signInLog.reset();
    const KadmelIni& ini = d->store.kadmelIni().read();
    d->smtp.setMailsPerConnection(ini.mailsPerConnection);
    const DeliveryDecision decision = decideDelivery(d->store.settings(), ini);
    if (!decision.plan)
        return failSignIn(decision.refusedPart == RefusedPart::Encryption ? ResultCode::NotSecure
                                                                          : ResultCode::SignInFailed,
                          toAnsi(decision.reason));
    if (!decision.plan->oauth) {
        d->smtp.setServer(decision.plan->server);
        d->smtp.SendMail(d->more);
        return;
    }
    const AuthSetting& auth = *decision.plan->oauth;
    d->tokenServer = decision.plan->server;
    if (!auth.inKeyring())
        return requestToken(auth);
    if ((d->token = d->tokens.requestKept(auth)))
        return void(connect(d->token.get(), &Job::finished, this, &DeliveryAttempt::onToken));
    d->readingSecrets = readSecrets(d->secrets, auth);
    connect(d->readingSecrets.get(), &Job::finished, this, [this] {
        const JobPtr<SecretsJob> read = std::move(d->readingSecrets);
        if (!read->setting())
            return failSignIn(ResultCode::SignInFailed, toAnsi(read->error()));
        requestToken(*read->setting());
    });
}

void DeliveryAttempt::requestToken(const AuthSetting& auth)
{
    d->ownSignInLog().appendSent("POST " + auth.tokenUrl.trimmed() + CrLf); // what was asked, never the secrets
    d->token = d->tokens.request(auth);
    connect(d->token.get(), &Job::finished, this, &DeliveryAttempt::onToken);
}

void DeliveryAttempt::onToken()
{
    const JobPtr<AccessTokenJob> job = std::move(d->token);
    if (job->token().isEmpty())
        return failSignIn(ResultCode::SignInFailed, job->reason());
    d->signInLog.reset();
    d->tokenServer.accessToken = job->token();
    d->smtp.setServer(d->tokenServer);
    d->tokenServer = {};
    d->smtp.SendMail(d->more);
}

void DeliveryAttempt::failSignIn(ResultCode code, const QByteArray& reason)
{
    // The reason stands where a server's reply would, so the window shows it as it shows those.
    d->ownSignInLog().appendReceived(reason + CrLf);
    d->tokenServer = {};
    QMetaObject::invokeMethod(
        this,
        [this, code, reason] {
            reportOutcome({code, reason.trimmed(), SignInMechanism::None, {}});
        },
        Qt::QueuedConnection);
}

} // namespace kadmel
