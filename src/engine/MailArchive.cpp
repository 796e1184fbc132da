#include "engine/MailArchive.h"

#include "store/Ansi.h"
#include "store/ArchiveFiles.h"
#include "store/KadmelIni.h"

namespace kadmel {

MailArchive::MailArchive(Store& store, DispatcherView& view, int retryMs, QObject* parent)
    : QObject(parent), m_store(store), m_view(view)
{
    m_retry.setInterval(retryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] { catchUp(false); });
    // Copies left waiting by an earlier run go first, once the window is up to say how it went.
    m_waiting = holdsWaitingCopies(pendingArchiveFolderIn(m_store.programFolder()));
    // With an archive the start also gives a copy that missed its index line (the program ended between) its line.
    if (m_waiting || !root().isEmpty())
        QTimer::singleShot(0, this, [this] { catchUp(true); });
}

QString MailArchive::root()
{
    return m_store.kadmelIni().read().archiveFolder.path();
}

void MailArchive::keep(const QByteArray& message, const QByteArray& subject, bool beside,
                       std::function<void(QString)> then)
{
    const QString archive = root();
    if (archive.isEmpty() || message.isEmpty())
        return then({});
    const QString stem = archiveStem(QDateTime::currentDateTime(), subject);
    const QString pending = pendingArchiveFolderIn(m_store.programFolder());
    const QString head = chainHeadPathIn(m_store.programFolder());
    m_worker.run(
        beside, [archive, pending, stem, message, head] { return archiveCopy(archive, pending, stem, message, head); },
        [this, then](const ArchiveOutcome& outcome) {
            if (outcome.waiting) {
                m_waiting = true;
                m_retry.start();
            } else if (outcome.problem.isEmpty() && m_waiting) { // the archive takes copies again
                catchUp(false);
            }
            then(outcome.problem.isEmpty() ? QString()
                                           : QStringLiteral("Archivierung fehlgeschlagen: ") + outcome.problem);
        });
}

void MailArchive::catchUp(bool sayFailure)
{
    const QString archive = root();
    if (m_worker.isRunning() || archive.isEmpty()) // without an archive the copies wait for one to be chosen
        return m_retry.start();
    const CatchUp result = archiveWaitingCopies(archive, pendingArchiveFolderIn(m_store.programFolder()),
                                                chainHeadPathIn(m_store.programFolder()));
    m_waiting = result.waiting > 0;
    if (m_waiting)
        m_retry.start();
    else
        m_retry.stop();
    if (result.archived > 0 && result.waiting == 0)
        m_view.setMessage(toAnsi(
            QStringLiteral("Archivierung nachgeholt: %1 E-Mail(s) ins Archiv geschrieben.").arg(result.archived)));
    else if (result.waiting > 0 && sayFailure)
        m_view.setMessage(toAnsi(QStringLiteral("Archivierung fehlgeschlagen: %1 %2 E-Mail(s) warten auf das Archiv.")
                                     .arg(result.problem)
                                     .arg(result.waiting)));
    if (result.lined > 0)
        m_view.setMessage(toAnsi(
            QStringLiteral("Archivverzeichnis ergänzt: %1 Kopie(n) ohne Zeile nachgetragen.").arg(result.lined)));
    if (result.notice != m_notice && !result.notice.isEmpty())
        m_view.setMessage(toAnsi(result.notice));
    m_notice = result.notice;
}

} // namespace kadmel
