#include "ui/Program.h"

#include "store/Store.h"
#include "ui/ProgramWindows.h"
#include "ui/Prompts.h"

#include <QTextStream>
#include <utility>

namespace kadmel {

Program::Program(const QString& programFolder, Prompts& prompts, ProgramTimings timings, FolderPicker picker,
                 SecretStore* secrets, QObject* parent)
    : QObject(parent), m_prompts(prompts), m_timings(timings), m_picker(std::move(picker)), m_secrets(secrets),
      m_store(std::make_unique<Store>(programFolder))
{}

Program::~Program()
{
    delete m_splash;
}

void Program::start()
{
    m_started = true;
    const Store::LoadReport loaded = m_store->loadAtStartup();
    if (!loaded.refusal.isEmpty())
        return refuseStore(loaded.refusal);
    m_loadProblems = loaded.problems;
    m_splash = new Form4(m_timings.splash);
    m_splash->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_splash, &Form4::pauseOver, this, &Program::showMainWindow);
    m_splash->show();
    m_splash->start();
}

void Program::refuseStore(const QString& reason)
{
    // The store stays as it is: no window, no save, not even at a termination signal.
    m_refused = true;
    const QString text = QStringLiteral("ZUB kann nicht gestartet werden.\n") + reason;
    QTextStream(stderr) << text << Qt::endl;
    m_exitCode = 1;
    m_prompts.ask(nullptr, text, PromptIcon::Critical, PromptButtons::Ok);
    if (m_finished) // a termination signal closed the box
        return;
    m_finished = true;
    // Queued: main() starts its event loop only after start() has returned.
    QMetaObject::invokeMethod(this, &Program::finished, Qt::QueuedConnection);
}

void Program::showMainWindow()
{
    m_main = std::make_unique<Form1>(
        *m_store, m_prompts,
        MainWindowOptions{.engine = m_timings.engine, .folderPicker = m_picker, .secrets = m_secrets});
    connect(
        m_main.get(), &Form1::unloaded, this, [this] { endAfterSave(m_main->exitSaveError()); }, Qt::QueuedConnection);
    m_windows = std::make_unique<ProgramWindows>(*m_main);
    if (m_attach)
        m_attach(*m_main);
    m_main->load();
    if (m_splash)
        m_splash->close();
    Q_EMIT mainWindowLoaded();
    if (!m_loadProblems.isEmpty()) {
        m_prompts.ask(m_main.get(),
                      QStringLiteral("Beim Laden der Daten gab es Probleme:\n") +
                          m_loadProblems.join(QLatin1Char('\n')),
                      PromptIcon::Exclamation, PromptButtons::Ok);
    }
}

void Program::bringToFront()
{
    if (m_windows && !m_main->isUnloaded()) {
        m_windows->bringToFront();
    } else if (m_splash) {
        m_splash->raise();
        m_splash->activateWindow();
    }
}

void Program::requestTermination()
{
    if (std::exchange(m_terminating, true))
        return;
    if (m_main) {
        m_main->requestTermination();
        return;
    }
    if (!m_started) // nothing was loaded, so nothing may be saved over the store
        return endAfterSave({});
    if (m_refused) { // the reason's box closes; nothing is saved over a store that could not be read
        m_finished = true;
        return Q_EMIT finished();
    }
    // Still behind the splash: nothing is in hand, so save what was loaded and end.
    if (m_splash)
        m_splash->close();
    QString error;
    endAfterSave(m_store->SaveAll(&error) ? QString() : error);
}

void Program::endAfterSave(const QString& saveError)
{
    if (!saveError.isEmpty()) {
        QTextStream(stderr) << QStringLiteral("Kadmel Mail System: Die Daten von ZUB konnten beim Beenden nicht "
                                              "gespeichert werden: ")
                            << saveError << Qt::endl;
        m_exitCode = 1;
    }
    m_finished = true;
    Q_EMIT finished();
}

} // namespace kadmel
