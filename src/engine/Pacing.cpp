#include "engine/Pacing.h"

#include "store/KadmelIni.h"
#include "store/PaceFile.h"
#include "store/Store.h"

#include <algorithm>

namespace kadmel {
namespace {

qint64 wallClock()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

Pacing::Pacing(Store& store) : m_store(store)
{
    update();
    followAccount();
    const std::optional<PaceFileContent> saved = loadPaceFile(m_store.programFolder(), &m_loadProblem);
    m_fileHasTimes = saved && !saved->times.isEmpty();
    if (saved && saved->server == m_server && saved->user == m_user)
        m_pace.restore(saved->times, wallClock());
}

void Pacing::update()
{
    m_pace.setLimits(m_store.kadmelIni().read().pace);
}

void Pacing::followAccount()
{
    const Settings& settings = m_store.settings();
    const QByteArray server = settings.SmtpServer.trimmed().toLower();
    if (server == m_server && settings.SmtpUser == m_user)
        return;
    m_server = server;
    m_user = settings.SmtpUser;
    m_pace.clear();
}

qint64 Pacing::waitMs()
{
    if (!isSet())
        return 0;
    followAccount();
    return m_pace.waitMs(wallClock());
}

std::optional<QDateTime> Pacing::dayFrees() const
{
    if (m_pace.times().isEmpty())
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(m_pace.times().first() + 24LL * 60 * 60 * 1000);
}

QString Pacing::count()
{
    if (!isSet())
        return {};
    followAccount();
    m_pace.count(wallClock());
    // Without a limit nothing is kept: a relay's hundreds a second write no file.
    if (m_pace.times().isEmpty() && !m_fileHasTimes)
        return {};
    QString error;
    if (!savePaceFile(m_store.programFolder(), {m_server, m_user, m_pace.times()}, &error)) {
        error = QStringLiteral("Die Versandzählung für MailsProMinute und MailsProTag lässt sich nicht speichern: ") +
                error;
        return error == std::exchange(m_saveProblem, error) ? QString() : error;
    }
    m_fileHasTimes = !m_pace.times().isEmpty();
    m_saveProblem.clear();
    return {};
}

QDateTime Pacing::expectedEnd(int more, qint64 perMailMs)
{
    const qint64 now = wallClock();
    qint64 end = now + qint64(std::max(more, 0)) * std::max<qint64>(perMailMs, 0);
    if (isSet() && more > 0)
        end = std::max(end, m_pace.slot(now, more));
    return QDateTime::fromMSecsSinceEpoch(end);
}

QString Pacing::takeLoadProblem()
{
    return std::exchange(m_loadProblem, QString());
}

QByteArray progressText(int done, int total, const QDateTime& end, const QDateTime& now)
{
    const QByteArray at = "um " + end.time().toString(QStringLiteral("HH:mm")).toLatin1();
    return QByteArray::number(done) + " von " + QByteArray::number(total) + ", fertig etwa " +
           (end.date() == now.date() ? at
                                     : "am " + end.date().toString(QStringLiteral("dd.MM.")).toLatin1() + ' ' + at);
}

} // namespace kadmel
