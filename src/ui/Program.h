#pragma once

#include "ui/Form1.h"
#include "ui/Form4.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

namespace kadmel {

class ProgramWindows;
class Prompts;
class Store;

struct ProgramTimings
{
    SplashTimings splash;
    EngineTimings engine;
};

// The run of the program on one program folder: the store loaded behind the splash window, the
// pause, the main window, and the end once the main window has run its exit.
class Program : public QObject
{
    Q_OBJECT
public:
    // secrets: the desktop's keyring for the sign-in's secrets, for the engine and the settings dialog.
    Program(const QString& programFolder, Prompts& prompts, ProgramTimings timings = {},
            FolderPicker picker = systemFolderPicker(), SecretStore* secrets = nullptr, QObject* parent = nullptr);
    ~Program() override;

    // Loads the store and shows the splash window; the main window follows after the pause. A store that
    // cannot be used safely ends the program with the reason instead (finished(), exit code 1).
    void start();
    // What a second start on the same folder asks: the main window, or the splash while loading, comes forward.
    void bringToFront();
    // A termination signal: during the splash the store is saved and the program ends; before start() it
    // ends without touching the store, which is not loaded yet. Only the first request counts.
    void requestTermination();
    bool hasFinished() const { return m_finished; }
    // For main() once finished() came: 1 when the store could not be used (said in a box and on standard
    // error) or the final save after a termination signal failed (said on standard error, since no one
    // may be there to answer a message box), else 0.
    int exitCode() const { return m_exitCode; }

    Store& store() { return *m_store; }
    Form4* splash() const { return m_splash; }
    Form1* mainWindow() const { return m_main.get(); }
    // Run for the main window before its load, after its tray icon and other windows are attached.
    void setWindowAttacher(std::function<void(Form1&)> attach) { m_attach = std::move(attach); }

Q_SIGNALS:
    void mainWindowLoaded();
    // The exit has run; main() ends the event loop on it.
    void finished();

private:
    void showMainWindow();
    void endAfterSave(const QString& saveError);
    void refuseStore(const QString& reason);

    Prompts& m_prompts;
    ProgramTimings m_timings;
    FolderPicker m_picker;
    SecretStore* m_secrets;
    std::unique_ptr<Store> m_store;
    QPointer<Form4> m_splash;
    std::unique_ptr<Form1> m_main;
    std::unique_ptr<ProgramWindows> m_windows; // after m_main: released first
    std::function<void(Form1&)> m_attach;
    QStringList m_loadProblems;
    int m_exitCode = 0;
    bool m_refused = false;
    bool m_started = false;
    bool m_terminating = false;
    bool m_finished = false;
};

} // namespace kadmel
