#include "ui/Program.h"

#include "store/Store.h"
#include "ui/ProgramWindows.h"
#include "ui/Prompts.h"
#include "ui/SingleInstance.h"

#include <QTextStream>
#include <utility>

namespace kadmel {

Program::Program(const QString& programFolder, Prompts& prompts, ProgramTimings timings, FolderPicker picker,
                 QObject* parent)
    : QObject(parent), m_prompts(prompts), m_timings(timings), m_picker(std::move(picker)),
      m_store(std::make_unique<Store>(programFolder)), m_instance(std::make_unique<InstanceServer>(programFolder))
{
    connect(m_instance.get(), &InstanceServer::raiseRequested, this, &Program::bringToFront);
}

Program::~Program()
{
    delete m_splash;
}

void Program::start()
{
    m_started = true;
    m_loadProblems = m_store->loadAtStartup().problems;
    m_splash = new Form4(m_timings.splash);
    m_splash->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_splash, &Form4::pauseOver, this, &Program::showMainWindow);
    m_splash->show();
    m_splash->start();
}

void Program::showMainWindow()
{
    m_main = std::make_unique<Form1>(*m_store, m_prompts, MainWindowOptions{m_timings.engine, m_picker});
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
