// Start-up with a full store: 32767 mails with 2 KB bodies. Measures the time from process start to the
// main window shown with its lists filled (the splash pause set to 0) and the peak memory (VmHWM).
// The store is made once in a temporary folder; the measured start-up runs as a child process.

#include "store/Store.h"
#include "ui/FolderListModel.h"
#include "ui/Program.h"
#include "ui/Prompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace kadmel;

namespace {

class SilentPrompts : public Prompts
{
public:
    PromptAnswer ask(QWidget*, const QString&, PromptIcon, PromptButtons) override { return PromptAnswer::Ok; }
};

QByteArray peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return "?";
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed();
    }
    return "?";
}

int folderOf(int id)
{
    return id % 10 == 0 ? FailedFolder : (id % 13 == 0 ? DeletedFolder : SentFolder);
}

// The store is written through the store's own saves for the settings, the index and one mail of each
// kind; the other mail files are copies (a mail file does not hold its ID), which spares 32767 syncs.
bool makeStore(const QString& folder)
{
    Store store(folder);
    store.loadAtStartup();
    MailTables& tables = store.tables();
    const QByteArray body = QByteArray("Sehr geehrte Damen und Herren, dies ist eine Probe. ").repeated(40).left(2048);
    for (int i = 1; i <= MaxMails; ++i) {
        MailRecord mail;
        mail.From = "absender@example.com";
        mail.To = "empf\xe4nger@example.com";
        mail.Subject = "Rechnung";
        mail.Body = body;
        mail.Date = "06.12.2026 18:15:11";
        mail.Size = "2,00 KB";
        mail.Status = folderOf(i) == FailedFolder ? "ERRMessage4" : "MSGSENT";
        mail.Log.reset();
        mail.Log.appendSent("EHLO 127.0.0.1");
        mail.Log.appendReceived("250 ok");
        const std::optional<qint16> id = tables.createMail(mail);
        if (!id || !tables.folder(folderOf(i)).append(*id))
            return false;
    }
    QString error;
    const qint16 sentTemplate = 1;
    const qint16 failedTemplate = 10;
    if (!store.SaveSettings(&error) || !store.SaveFolders(&error) || !store.SaveMail(sentTemplate, &error) ||
        !store.SaveMail(failedTemplate, &error)) {
        std::fprintf(stderr, "store not written: %s\n", qPrintable(error));
        return false;
    }
    for (int i = 1; i <= MaxMails; ++i) {
        const qint16 id = qint16(i);
        if (id == sentTemplate || id == failedTemplate)
            continue;
        const qint16 from = folderOf(i) == FailedFolder ? failedTemplate : sentTemplate;
        if (!QFile::copy(store.mailFilePath(from), store.mailFilePath(id)))
            return false;
    }
    return true;
}

int runStartup(int argc, char* argv[], const QString& folder)
{
    QApplication app(argc, argv);
    SilentPrompts prompts;
    ProgramTimings timings;
    timings.splash.pauseMs = 0;
    Program program(folder, prompts, timings, [](QWidget*) { return QString(); });
    QObject::connect(&program, &Program::mainWindowLoaded, &app, [&] {
        // One turn of the event loop: the window is painted with its lists.
        QTimer::singleShot(0, &app, [&] {
            int rows = 0;
            for (int f = 1; f <= 3; ++f)
                rows += program.mainWindow()->listModel(f)->rowCount();
            std::printf("shown %d %s\n", rows, peakMemory().constData());
            std::fflush(stdout);
            std::_Exit(0); // the measurement is taken; no exit dialog, no final save
        });
    });
    program.start();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--startup") == 0)
        return runStartup(argc, argv, QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    QElapsedTimer made;
    made.start();
    if (!dir.isValid() || !makeStore(dir.path()))
        return 1;
    std::printf("store of %d mails with 2 KB bodies made in %.1f s\n", int(MaxMails), made.elapsed() / 1000.0);

    double best = 1e9;
    QByteArray memory;
    for (int run = 0; run < 3; ++run) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        child.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("--startup"), dir.path()});
        if (!child.waitForFinished(60000)) {
            child.kill();
            std::fprintf(stderr, "start-up did not finish\n");
            return 1;
        }
        const double seconds = clock.elapsed() / 1000.0;
        const QList<QByteArray> words = child.readAllStandardOutput().trimmed().split(' ');
        if (words.size() < 3 || words.at(0) != "shown" || words.at(1).toInt() != MaxMails) {
            std::fprintf(stderr, "unexpected start-up output\n");
            return 1;
        }
        memory = words.mid(2).join(' ');
        best = std::min(best, seconds);
        std::printf("run %d: %.3f s to the main window with %d rows, peak memory %s\n", run + 1, seconds,
                    words.at(1).toInt(), memory.constData());
    }
    std::printf("start-up (best of 3): %.3f s (target < 1.5 s); peak memory %s (target < 300 MB)\n", best,
                memory.constData());
    return 0;
}
