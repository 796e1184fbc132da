#pragma once

#include "engine/Dispatcher.h"
#include "store/StoreFiles.h"
#include "support/LocalSettings.h"
#include "support/RecordingView.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <fstream>
#include <memory>
#include <sys/stat.h>

namespace kadmel::test {

// A poll every 20 ms, jobs taken at once, short SMTP limits: what most engine tests run with.
inline EngineTimings quickTimings()
{
    return {.pollMs = 20, .minJobAgeMs = 0, .smtp = {.connectMs = 300, .conversationMs = 1500, .abortGraceMs = 300}};
}

// Runs the event loop until a timer of `ms`, started now, has fired. Qt fires due timers in the order of their
// deadlines, so every timer of a shorter interval running meanwhile has fired within its last interval before,
// on a loaded machine too: "nothing happened within ms" is then something seen, not a guess.
inline bool letTimePass(int ms)
{
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QSignalSpy fired(&timer, &QTimer::timeout);
    timer.start(ms);
    return fired.wait(ms + 60000);
}

// Bytes at a path that need not be UTF-8 (QFile's names are), or empty.
inline QByteArray bytesAt(const QByteArray& path)
{
    std::ifstream in(path.constData(), std::ios::binary);
    return QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {}));
}

// A program folder and a job folder in a temporary place, the store loaded from it as a start does, sending to
// 127.0.0.1:port without sign-in; the view records what the engine shows. The test makes the dispatcher (restart())
// or the one part it tries over store, view and timings.
struct EngineBench
{
    QTemporaryDir dir;
    QString program = dir.path() + QStringLiteral("/program");
    QByteArray jobs = QFile::encodeName(dir.path()) + "/watch/KDMEML/";
    Store store{program};
    RecordingView view;
    EngineTimings timings;
    std::unique_ptr<Dispatcher> dispatcher;

    explicit EngineBench(quint16 port, const EngineTimings& engineTimings = quickTimings()) : timings(engineTimings)
    {
        QDir().mkpath(program);
        QDir().mkpath(QFile::decodeName(jobs));
        load(port);
    }
    void load(quint16 port)
    {
        store.loadAtStartup();
        store.settings() = localSettings(dir.path() + QStringLiteral("/watch"), port);
    }
    // A new engine on the folder, as the next start makes it.
    Dispatcher& restart()
    {
        dispatcher.reset();
        dispatcher = std::make_unique<Dispatcher>(store, view, timings);
        return *dispatcher;
    }
    void setPort(quint16 port) { store.settings().SmtpPort = static_cast<qint16>(port); }

    void writeJob(const QByteArray& name, const QByteArray& subject, const QByteArray& body = "Text") const
    {
        writeRawJob(name, "@@FR alice@example.com@@TO bob@example.com@@SB " + subject + "@@\r\n\r\n" + body);
    }
    void writeRawJob(const QByteArray& name, const QByteArray& text) const
    {
        std::ofstream((jobs + name).constData(), std::ios::binary) << text.toStdString();
    }
    bool jobExists(const QByteArray& name) const
    {
        struct stat st;
        return ::lstat((jobs + name).constData(), &st) == 0;
    }
    // The folders and records as the next start loads them.
    MailTables reloaded() const
    {
        Store again(program);
        again.loadAtStartup();
        return again.tables();
    }
};

} // namespace kadmel::test
