#include "control/ControlVerbs.h"

#include "control/ControlProtocol.h"
#include "control/ControlReply.h"
#include "control/MailLines.h"
#include "engine/Dispatcher.h"
#include "engine/FailureReason.h"
#include "engine/JobDirectory.h"
#include "engine/MailExport.h"
#include "service/ServiceView.h"
#include "store/Ansi.h"
#include "store/PermanentRemoval.h"

#include <QJsonArray>
#include <QLocale>

namespace kadmel {
namespace {

QString wrongArguments(const QString& verb)
{
    return QStringLiteral("Falsche Angaben zu „%1“; siehe „kadmelctl --hilfe“.").arg(verb);
}

// "Fehlgeschlagen:    " – the labels of status, in one column.
QString line(const char16_t* label)
{
    return (QString::fromUtf16(label) + u':').leftJustified(19);
}

QString storeFill(qint16 count)
{
    const QLocale german(QLocale::German);
    return QStringLiteral("%1 von %2").arg(german.toString(count), german.toString(MaxMails));
}

} // namespace

ControlVerbs::ControlVerbs(Store& store, Dispatcher& dispatcher, const ServiceView& view, const ControlTimings& timings,
                           SecretStore* secrets)
    : m_store(store), m_dispatcher(dispatcher), m_view(view), m_timings(timings), m_secrets(secrets)
{
    m_removalTimer.setInterval(0); // one step per turn: the engine and other callers go on in between
    connect(&m_removalTimer, &QTimer::timeout, this, &ControlVerbs::removalStep);
    // The window shows a failure in its list for good; here it stays said until the next one.
    connect(&m_dispatcher, &Dispatcher::mailFiled, this, [this](qint16 id, bool sent) {
        if (!sent)
            m_lastFailure = QStringLiteral("%1, E-Mail (ID %2): %3")
                                .arg(timeText(QDateTime::currentDateTime()))
                                .arg(id)
                                .arg(fromAnsi(resultTextWithReason(m_store.tables().mail(id))));
    });
}

ControlVerbs::~ControlVerbs() = default;

void ControlVerbs::run(const control::Request& request, ControlReply* reply)
{
    using Verb = void (ControlVerbs::*)(const QStringList&, ControlReply*);
    static const std::pair<const char*, Verb> verbs[] = {
        {"status", &ControlVerbs::status},    {"liste", &ControlVerbs::list},
        {"zeige", &ControlVerbs::show},       {"export", &ControlVerbs::exportMail},
        {"senden", &ControlVerbs::send},      {"alle-senden", &ControlVerbs::sendAll},
        {"entfernen", &ControlVerbs::remove}, {"wiederherstellen", &ControlVerbs::restore},
        {"start", &ControlVerbs::start},      {"stopp", &ControlVerbs::stop},
        {"einrichten", &ControlVerbs::setUp}, {"anmelden", &ControlVerbs::signIn}};
    for (const auto& [name, verb] : verbs) {
        if (request.verb == QLatin1String(name))
            return (this->*verb)(request.args, reply);
    }
    reply->refuse(QStringLiteral("Unbekannter Befehl „%1“.").arg(request.verb), control::WrongArguments);
}

std::optional<QList<qint16>> ControlVerbs::mailIds(const QStringList& args, ControlReply* reply) const
{
    QList<qint16> ids;
    for (const QString& arg : args) {
        bool number = false;
        const int id = arg.toInt(&number);
        if (!number || id < 1 || id > m_store.tables().MailCount()) {
            reply->refuse(QStringLiteral("Keine E-Mail mit der ID „%1“.").arg(arg));
            return std::nullopt;
        }
        if (!ids.contains(qint16(id)))
            ids.append(qint16(id));
    }
    if (ids.isEmpty())
        reply->refuse(QStringLiteral("Bitte mindestens eine ID nennen."), control::WrongArguments);
    return ids.isEmpty() ? std::nullopt : std::optional(ids);
}

void ControlVerbs::status(const QStringList& args, ControlReply* reply)
{
    if (!args.isEmpty())
        return reply->refuse(wrongArguments(QStringLiteral("status")), control::WrongArguments);
    const ServiceStatus& shown = m_view.status();
    const MailTables& tables = m_store.tables();
    JobDirectory jobs(m_dispatcher.JobFolder());
    const qsizetype waiting = jobs.list().size();
    std::optional<std::pair<qint16, QDateTime>> next;
    for (auto it = shown.retryTimes.cbegin(); it != shown.retryTimes.cend(); ++it) {
        if (!next || it.value() < next->second)
            next = std::pair(it.key(), it.value());
    }
    const QString pause = fromAnsi(m_dispatcher.pauseMessage());
    const QString lastError = !shown.startRefusal.isEmpty() ? shown.startRefusal : m_lastFailure;

    reply->say(line(u"Versand") + (shown.active ? QStringLiteral("aktiv") : QStringLiteral("angehalten")));
    reply->say(line(u"In Arbeit") +
               (shown.idle ? QStringLiteral("nichts") : QStringLiteral("eine E-Mail – ") + fromAnsi(shown.message)));
    if (!shown.runProgress.isEmpty())
        reply->say(line(u"Lauf") + fromAnsi(shown.runProgress));
    reply->say(line(u"Wartende Aufträge") + QString::number(waiting));
    reply->say(line(u"Fehlgeschlagen") + QString::number(tables.count(FailedFolder)));
    reply->say(
        line(u"Nächster Versuch") +
        (next ? QStringLiteral("%1 (ID %2)").arg(timeText(next->second)).arg(next->first) : QStringLiteral("keiner")));
    if (!pause.isEmpty())
        reply->say(line(u"Pause") + pause);
    if (!lastError.isEmpty())
        reply->say(line(u"Letzter Fehler") + lastError);
    reply->say(line(u"Speicher") + storeFill(tables.MailCount()) + QStringLiteral(" E-Mails"));
    reply->data(QJsonObject{
        {QStringLiteral("aktiv"), shown.active},
        {QStringLiteral("inArbeit"), !shown.idle},
        {QStringLiteral("meldung"), fromAnsi(shown.message)},
        {QStringLiteral("lauf"), fromAnsi(shown.runProgress)},
        {QStringLiteral("wartendeAuftraege"), int(waiting)},
        {QStringLiteral("fehlgeschlagen"), tables.count(FailedFolder)},
        {QStringLiteral("naechsterVersuch"), next ? QJsonValue(next->second.toString(Qt::ISODate)) : QJsonValue()},
        {QStringLiteral("pause"), pause},
        {QStringLiteral("letzterFehler"), lastError},
        {QStringLiteral("mails"), tables.MailCount()},
        {QStringLiteral("hoechstens"), MaxMails}});
    reply->finish(control::Done);
}

void ControlVerbs::list(const QStringList& args, ControlReply* reply)
{
    QList<int> folders;
    QString search;
    for (qsizetype k = 0; k < args.size(); ++k) {
        if (args.at(k) == QLatin1String("--suche") && k + 1 < args.size() && search.isEmpty())
            search = args.at(++k);
        else if (const std::optional<int> folder = folderOfWord(args.at(k)); folder && folders.isEmpty())
            folders.append(*folder);
        else
            return reply->refuse(wrongArguments(QStringLiteral("liste")), control::WrongArguments);
    }
    if (folders.isEmpty())
        folders = {SentFolder, FailedFolder, DeletedFolder};
    const MailTables& tables = m_store.tables();
    const auto matches = [&](const MailRecord& mail) {
        return search.isEmpty() || fromAnsi(mail.From).contains(search, Qt::CaseInsensitive) ||
               fromAnsi(mail.To).contains(search, Qt::CaseInsensitive) ||
               fromAnsi(mail.Subject).contains(search, Qt::CaseInsensitive);
    };
    QJsonArray rows;
    for (const int folder : folders) {
        for (const qint16 id : tables.folder(folder).entries()) {
            if (id < 1 || id > tables.MailCount() || !matches(tables.mail(id)))
                continue;
            const auto next = m_view.status().retryTimes.constFind(id);
            const MailRow row{id, folder,
                              next == m_view.status().retryTimes.cend() ? std::nullopt : std::optional(*next)};
            reply->say(mailLine(tables, row));
            rows.append(mailObject(tables, row));
        }
    }
    if (rows.isEmpty())
        reply->say(QStringLiteral("Keine E-Mails."));
    reply->data(rows);
    reply->finish(control::Done);
}

void ControlVerbs::show(const QStringList& args, ControlReply* reply)
{
    if (args.size() != 1)
        return reply->refuse(wrongArguments(QStringLiteral("zeige")), control::WrongArguments);
    const std::optional<QList<qint16>> ids = mailIds(args, reply);
    if (!ids)
        return;
    const MailTables& tables = m_store.tables();
    const qint16 id = ids->first();
    const auto next = m_view.status().retryTimes.constFind(id);
    const MailRow row{id, folderHolding(tables, id),
                      next == m_view.status().retryTimes.cend() ? std::nullopt : std::optional(*next)};
    for (const QString& line : mailDetails(tables, row))
        reply->say(line);
    reply->data(mailDetailObject(tables, row));
    reply->finish(control::Done);
}

void ControlVerbs::exportMail(const QStringList& args, ControlReply* reply)
{
    // The caller writes the file: under its own name and rights, where it is.
    if (args.size() != 1)
        return reply->refuse(wrongArguments(QStringLiteral("export")), control::WrongArguments);
    const std::optional<QList<qint16>> ids = mailIds(args, reply);
    if (!ids)
        return;
    QString error;
    const std::optional<QByteArray> file = mailAsFile(m_store, ids->first(), &error);
    if (!file)
        return reply->refuse(error);
    reply->data(QJsonObject{{QStringLiteral("eml"), QString::fromLatin1(file->toBase64())}});
    reply->finish(control::Done);
}

void ControlVerbs::start(const QStringList& args, ControlReply* reply)
{
    if (!args.isEmpty())
        return reply->refuse(wrongArguments(QStringLiteral("start")), control::WrongArguments);
    QString reason;
    if (m_dispatcher.StartProcessing(&reason) != StartCheck::Ok)
        return reply->refuse(QStringLiteral("Der Versand wurde nicht gestartet: ") +
                             (reason.isEmpty() ? m_view.status().startRefusal : reason));
    reply->done(QStringLiteral("Der Versand ist aktiv."));
}

void ControlVerbs::stop(const QStringList& args, ControlReply* reply)
{
    if (!args.isEmpty())
        return reply->refuse(wrongArguments(QStringLiteral("stopp")), control::WrongArguments);
    const bool inHand = !m_dispatcher.IdleFlag();
    m_dispatcher.StopProcessing();
    reply->done(inHand ? QStringLiteral("Der Versand ist angehalten; die E-Mail in Arbeit wird noch fertig.")
                       : QStringLiteral("Der Versand ist angehalten."));
}

} // namespace kadmel
