// Takes the screenshots of docs/screenshots: runs the program's windows on a sample program folder on
// the X display given (scripts/screenshots.sh starts Xvfb for it) and grabs them from the screen.
// Built by scripts/screenshots.sh against the build's libraries; not part of the CMake build.
//   capture <program folder> <output folder>

#include "MailWindowShots.h"
#include "store/Store.h"
#include "ui/FolderListModel.h"
#include "ui/Form1.h"
#include "ui/Program.h"
#include "ui/Prompts.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <cstdio>

using namespace kadmel;

namespace {

class SilentPrompts : public Prompts
{
public:
    PromptAnswer ask(QWidget*, const QString&, PromptIcon, PromptButtons) override { return PromptAnswer::Ok; }
};

// The window's area of the screen, so a tooltip over it is in the picture.
bool grab(QWidget* window, const QString& file)
{
    const QRect frame = window->frameGeometry();
    QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (shot.width() < 10 || shot.height() < 10) // not framed yet: the window as it draws itself
        shot = window->grab();
    const bool ok = shot.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
    return ok;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: capture <program folder> <output folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    installGermanTranslations(app);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    SilentPrompts prompts;
    ProgramTimings timings;
    timings.splash.pauseMs = 2500;
    Program program(folder, prompts, timings, [](QWidget*) { return QString(); });
    int failures = 0;

    QTimer::singleShot(1300, &app, [&] {
        if (program.splash())
            failures += !grab(program.splash(), out.filePath(QStringLiteral("splash.png")));
    });
    QObject::connect(&program, &Program::mainWindowLoaded, &app, [&] {
        Form1* window = program.mainWindow();
        window->move(40, 40);
        QTreeWidget* tree = window->findChild<QTreeWidget*>(QStringLiteral("TV1"));
        static const char* names[] = {"main-sent.png", "main-failed.png", "main-deleted.png"};
        for (int f = 1; f <= 3; ++f) {
            QTimer::singleShot(600 * f, &app, [&, tree, window, f] {
                tree->setCurrentItem(window->node(f + 2));
                Q_EMIT tree->itemClicked(window->node(f + 2), 0);
                QTableView* list = window->list(f);
                // The sent list by date, newest first, where the list can be sorted.
                if (f == SentFolder)
                    list->sortByColumn(FolderListModel::DateColumn, Qt::DescendingOrder);
                list->selectRow(0);
                if (f == FailedFolder) {
                    // The refused mail's reason, as its status cell's tooltip shows it.
                    const QModelIndex status = list->model()->index(0, FolderListModel::StatusColumn);
                    const QRect cell = list->visualRect(status);
                    QToolTip::showText(list->viewport()->mapToGlobal(cell.center()),
                                       status.data(Qt::ToolTipRole).toString(), list->viewport());
                }
                QTimer::singleShot(300, &app, [&, window, list, f] {
                    failures += !grab(window, out.filePath(QLatin1String(names[f - 1])));
                    QToolTip::hideText();
                    if (f != FailedFolder)
                        return;
                    // The mail that lost its connection waits for its next attempt, as the tooltip tells.
                    const qint16 id = qint16(list->model()->index(1, FolderListModel::IdColumn).data().toInt());
                    window->setServiceState(true);
                    window->setRetryTimes({{id, QDateTime::currentDateTime().addSecs(8 * 60)}});
                    list->selectRow(1);
                    const QModelIndex status = list->model()->index(1, FolderListModel::StatusColumn);
                    QToolTip::showText(list->viewport()->mapToGlobal(list->visualRect(status).center()),
                                       status.data(Qt::ToolTipRole).toString(), list->viewport());
                    QTimer::singleShot(150, &app, [&, window] {
                        failures += !grab(window, out.filePath(QStringLiteral("main-retry.png")));
                        QToolTip::hideText();
                        window->setServiceState(false);
                    });
                });
            });
        }
        QTimer::singleShot(2600, &app, [&, window] {
            window->openSettingsDialog();
            QTimer::singleShot(400, &app, [&, window] {
                failures += !grab(window->settingsDialog(), out.filePath(QStringLiteral("settings.png")));
                // The browser sign-in chosen and Google filled in: the dialog at its tallest.
                QDialog* settings = window->settingsDialog();
                settings->findChild<QComboBox*>(QStringLiteral("SignInMethod"))->setCurrentIndex(2);
                settings->findChild<QPushButton*>(QStringLiteral("FillGoogle"))->click();
                QTimer::singleShot(400, &app, [&, window, settings] {
                    failures += !grab(settings, out.filePath(QStringLiteral("settings-oauth.png")));
                    // Qt's folder picker, as "..." opens it: German, at the watched folder.
                    QTimer::singleShot(600, &app, [&] {
                        if (auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                            failures += !grab(picker, out.filePath(QStringLiteral("folderpicker.png")));
                            picker->reject();
                        }
                    });
                    systemFolderPicker()(window->settingsDialog());
                    // Viewer on both tabs, editor, alert and About box, each filled with a sample mail.
                    QString error;
                    const bool mailShots = saveMailWindowShots(out.path(), &error);
                    std::printf("%s mail window pictures %s\n", mailShots ? "wrote" : "could not write",
                                qPrintable(error));
                    failures += !mailShots;
                    std::fflush(stdout);
                    std::_Exit(failures == 0 ? 0 : 1); // the sample store stays as it was
                });
            });
        });
    });
    program.start();
    return app.exec();
}
