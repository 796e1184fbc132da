#pragma once

// Helpers shared by the window tests: answered message boxes, a server that accepts and stays silent (a mail stays in
// hand until the test closes it), stores with mails and quick window timings.

#include "store/Ansi.h"
#include "store/FileAccess.h"
#include "store/Store.h"
#include "store/StoreFiles.h"
#include "ui/FolderListModel.h"
#include "ui/Form1.h"
#include "ui/Prompts.h"
#include "ui/StatusPanel.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <utility>

namespace kadmel::test {

class PromptRecorder : public Prompts
{
public:
    struct Asked
    {
        QString text;
        PromptIcon icon;
        PromptButtons buttons;
    };
    QList<Asked> asked;
    QList<PromptAnswer> answers;             // taken in turn; when empty, OK / Cancel / end anyway
    std::function<void(const Asked&)> onAsk; // runs before the answer is given

    PromptAnswer ask(QWidget*, const QString& text, PromptIcon icon, PromptButtons buttons) override
    {
        asked.append({text, icon, buttons});
        if (onAsk)
            onAsk(asked.last());
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons == PromptButtons::Ok           ? PromptAnswer::Ok
               : buttons == PromptButtons::RetryOrEnd ? PromptAnswer::EndAnyway
                                                      : PromptAnswer::Cancel;
    }
    // The question with "nicht mehr fragen": OK unless an answer waits, the box ticked as `ticks` say in turn.
    QList<bool> ticks;
    PromptAnswer askWithCheck(QWidget* parent, const QString& text, const QString&, bool& checked) override
    {
        checked = !ticks.isEmpty() && ticks.takeFirst();
        if (answers.isEmpty())
            answers.append(PromptAnswer::Ok); // a move to the deleted folder can be undone
        return ask(parent, text, PromptIcon::Question, PromptButtons::OkCancel);
    }
    QStringList texts() const
    {
        QStringList all;
        for (const Asked& a : asked)
            all << a.text;
        return all;
    }
};

// Accepts connections and never answers.
class SilentServer : public QTcpServer
{
public:
    SilentServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                m_sockets.append(socket);
        });
    }
    QList<QTcpSocket*> m_sockets;
};

// Where the windows' "Als E-Mail-Datei speichern…" writes, under the suggested name; empty: cancelled.
inline QString savedFilesFolder;

inline MainWindowOptions fastOptions()
{
    MainWindowOptions options;
    options.engine.pollMs = 100;
    options.engine.minJobAgeMs = 0;
    options.engine.alertCloseMs = 10;
    options.engine.smtp.connectMs = 3000;
    options.engine.smtp.conversationMs = 20000;
    options.folderPicker = [](QWidget*) { return QString(); };
    options.saveFilePicker = [](QWidget*, const QString& suggested) {
        return savedFilesFolder.isEmpty() ? QString()
                                          : savedFilesFolder + QLatin1Char('/') + QFileInfo(suggested).fileName();
    };
    options.removalFilesPerStep = 1;
    return options;
}

// A mail "Mail <id>" filed in the folder (in memory only).
inline qint16 addMail(Store& store, int folder, const QByteArray& to = "an@example.com")
{
    MailRecord mail;
    mail.From = "von@example.com";
    mail.To = to;
    mail.Body = "Text";
    mail.Status = folder == SentFolder ? "MSGSENT" : "ERRMessage4";
    const qint16 id = store.tables().createMail(mail).value_or(0);
    store.tables().mail(id).Subject = "Mail " + QByteArray::number(id);
    store.tables().folder(folder).append(id);
    return id;
}

inline std::unique_ptr<Store> loadedStore(const QString& programFolder) // as a start reads it
{
    auto store = std::make_unique<Store>(programFolder);
    store->loadAtStartup();
    return store;
}

// A temporary program folder, its store loaded as a start reads it, and the answers to the windows' questions.
struct StoreInFolder
{
    QTemporaryDir dir;
    PromptRecorder prompts;
    std::unique_ptr<Store> store = loadedStore(dir.path());
};

// The child widget or action of that object name.
template <typename T> T* child(const QObject& parent, const char* name)
{
    return parent.findChild<T*>(QLatin1String(name));
}

// Offscreen screens of these sizes side by side, the desktops the windows are made for (the platform's own
// is 800 x 600). To be called before the application object exists.
inline void useOffscreenScreens(std::initializer_list<QSize> sizes)
{
    static QTemporaryDir dir;
    QStringList screens;
    int x = 0;
    for (const QSize& size : sizes)
        screens << QStringLiteral(R"({"name": "%1", "x": %1, "width": %2, "height": %3})")
                       .arg(std::exchange(x, x + size.width()))
                       .arg(size.width())
                       .arg(size.height());
    const QString config = dir.filePath(QStringLiteral("screens.json"));
    const QByteArray json = R"({"screens": [)" + screens.join(QLatin1Char(',')).toUtf8() + "]}";
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && writeWholeFile(config, json, nullptr))
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
}

} // namespace kadmel::test

// QTEST_MAIN on offscreen screens of the given sizes.
#define KADMEL_TEST_MAIN_ON_SCREENS(TestClass, ...)                                                                    \
    int main(int argc, char** argv)                                                                                    \
    {                                                                                                                  \
        kadmel::test::useOffscreenScreens({__VA_ARGS__});                                                              \
        QApplication app(argc, argv);                                                                                  \
        TestClass test;                                                                                                \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&test, argc, argv);                                                                        \
    }
