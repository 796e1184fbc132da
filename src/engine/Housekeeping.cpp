#include "engine/Housekeeping.h"

#include "engine/ByteText.h"
#include "engine/Dispatcher.h"
#include "smtp/Message.h"
#include "store/Ansi.h"
#include "store/ArchiveFiles.h"
#include "store/KadmelIni.h"
#include "store/MailExtras.h"
#include "store/PermanentRemoval.h"
#include "store/Store.h"

#include <QLocale>
#include <QMap>

namespace kadmel {
namespace {

constexpr int FilesPerStep = 20; // renames per turn of the event loop, as "endgültig löschen" does them

} // namespace

QList<qint16> expiredSentPositions(const QList<SentMail>& sent, const QDateTime& before, const QString& archive)
{
    // Each day's copies are read once; a copy is named by the time it was written, on the mail's day or the next.
    QMap<QDate, QSet<QByteArray>> archived;
    const auto holds = [&](const QDate& day, const QByteArray& id) {
        auto it = archived.find(day);
        if (it == archived.end())
            it = archived.insert(day, archivedMessageIds(archive, day));
        return it->contains(id);
    };
    QList<qint16> expired;
    for (const SentMail& mail : sent) {
        const QDateTime at = dateOfText(mail.date);
        if (!at.isValid() || at >= before)
            continue;
        if (!archive.isEmpty() && (!isMessageId(mail.messageId) ||
                                   !(holds(at.date(), mail.messageId) || holds(at.date().addDays(1), mail.messageId))))
            continue;
        expired.append(mail.pos);
    }
    return expired;
}

Housekeeping::Housekeeping(Dispatcher& dispatcher, Store& store, DispatcherView& view, const EngineTimings& timings,
                           QObject* parent)
    : QObject(parent), m_dispatcher(dispatcher), m_store(store), m_view(view), m_warningMs(timings.storeWarningMs)
{
    m_hourly.setInterval(timings.housekeepingMs);
    connect(&m_hourly, &QTimer::timeout, this, [this] {
        m_due = true;
        warnIfFull();
        tryBegin();
    });
    m_hourly.start();
    m_steps.setInterval(0);
    connect(&m_steps, &QTimer::timeout, this, &Housekeeping::removalStep);
    // Queued: the dispatcher is still inside its own change of phase, and what follows it (the next mail of
    // "Alle Senden", say) goes first.
    connect(&dispatcher, &Dispatcher::idleChanged, this, [this](bool idle) {
        if (idle)
            QTimer::singleShot(0, this, [this] {
                warnIfFull();
                tryBegin();
            });
    });
    // The first look once the window is up.
    QTimer::singleShot(0, this, [this] {
        warnIfFull();
        tryBegin();
    });
}

// A removal cut short by the end is carried to its end by its own destructor.
Housekeeping::~Housekeeping() = default;

void Housekeeping::tryBegin()
{
    if (!m_due || m_removal || m_worker.isRunning())
        return;
    const KadmelIni& ini = m_store.kadmelIni().read();
    if (ini.keepSentDays <= 0 || !m_store.tables().count(SentFolder)) {
        m_due = false;
        return;
    }
    if (!m_dispatcher.IdleFlag() || !m_dispatcher.beginCommand())
        return; // again once it is idle
    m_due = false;
    const MailTables& tables = m_store.tables();
    QList<SentMail> sent;
    sent.reserve(tables.count(SentFolder));
    for (int pos = 1; pos <= tables.count(SentFolder); ++pos) { // int: a full folder ends at 32767
        const MailRecord& record = tables.mail(tables.idAt(SentFolder, qint16(pos)));
        sent.append({qint16(pos), record.Date, messageIdOf(record)});
    }
    m_days = ini.keepSentDays;
    const QDateTime before = QDateTime::currentDateTime().addDays(-m_days);
    const QString archive = ini.archiveFolder.path();
    m_worker.run(
        true, [sent, before, archive] { return expiredSentPositions(sent, before, archive); },
        [this](const QList<qint16>& positions) { removeExpired(positions); });
}

void Housekeeping::removeExpired(const QList<qint16>& positions)
{
    if (positions.isEmpty())
        return m_dispatcher.endCommand({});
    QList<qint16> ids; // their receipts are made while the mails are still there
    for (const qint16 pos : positions)
        ids.append(m_store.tables().idAt(SentFolder, pos));
    m_dispatcher.removingForGood(ids);
    m_count = positions.size();
    m_removal = std::make_unique<PermanentRemoval>(m_store, positions, SentFolder);
    m_steps.start();
}

void Housekeeping::removalStep()
{
    QString error;
    if (!m_removal->step(FilesPerStep, &error))
        return;
    m_steps.stop();
    const CommandChanges changes{{}, m_removal->newIds()}; // none when nothing was removed
    m_removal.reset();
    if (!changes.newIds.isEmpty())
        m_view.foldersRenumbered();
    if (!error.isEmpty())
        m_view.setMessage(toAnsi(QStringLiteral("Aufbewahrung: ") + error));
    else
        m_view.setMessage(toAnsi(QStringLiteral("Aufbewahrung: %1 gesendete E-Mail(s), älter als %2 Tage, endgültig "
                                                "entfernt.")
                                     .arg(m_count)
                                     .arg(m_days)));
    m_dispatcher.endCommand(changes);
}

void Housekeeping::warnIfFull()
{
    const qint16 count = m_store.tables().MailCount();
    if (count < WarningCount || (m_warned.isValid() && m_warned.elapsed() < m_warningMs))
        return;
    m_warned.start();
    const QLocale german(QLocale::German, QLocale::Germany);
    const QByteArray text =
        toAnsi(QStringLiteral("Der Mailspeicher ist fast voll (%1 von %2 E-Mails); ist er voll, wird kein Auftrag "
                              "mehr angenommen. Gesendete E-Mails nach einigen Tagen entfernen: [Aufbewahrung] "
                              "GesendeteTage= in kadmel.ini.")
                   .arg(german.toString(count), german.toString(MaxMails)));
    m_view.setMessage(text);
    if (m_view.inTray())
        m_view.ShowAlert(text);
}

} // namespace kadmel
