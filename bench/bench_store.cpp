// Figures of the mail store at its limit: 32767 mails with 2 KB bodies in a temporary program folder.
#include "store/Store.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

using namespace kadmel;

namespace {

MailRecord sampleMail(int id)
{
    MailRecord record;
    record.Log.reset();
    record.Log.appendSent("EHLO kadmel\r\n");
    record.Log.appendReceived("250 ok\r\n");
    record.From = "absender@example.com";
    record.To = "empfaenger@example.com";
    record.Subject = "Rechnung " + QByteArray::number(id);
    record.Body = QByteArray(2048, 'a' + char(id % 26));
    record.Date = "06.12.2026 18:15:11";
    record.Size = "2,00 KB";
    record.Status = id % 7 ? "MSGSENT" : "ERRMessage3";
    return record;
}

void print(const char* what, qint64 ms, bool ok)
{
    QTextStream(stdout) << QStringLiteral("%1 %2 ms%3\n")
                               .arg(QString::fromLatin1(what), -40)
                               .arg(ms, 6)
                               .arg(ok ? QString() : QStringLiteral("  (FAILED)"));
}

} // namespace

int main(int argc, char* argv[])
{
    // A smaller store for a quick look: bench_store <mails> (at least 2000).
    const int mails = argc > 1 ? qBound(2000, QByteArray(argv[1]).toInt(), int(MaxMails)) : MaxMails;
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QElapsedTimer clock;
    {
        Store store(dir.path());
        store.loadAtStartup();
        for (int id = 1; id <= mails; ++id) {
            store.tables().createMail(sampleMail(id));
            store.tables().folder(id % 7 ? SentFolder : FailedFolder).append(qint16(id));
        }
        clock.start();
        QString error;
        const bool ok = store.SaveAll(&error);
        print(qPrintable(QStringLiteral("SaveAll, %1 new mail files").arg(mails)), clock.elapsed(), ok);
        if (!ok)
            QTextStream(stdout) << error << "\n";
    }

    Store store(dir.path());
    clock.start();
    const Store::LoadReport report = store.loadAtStartup();
    print(qPrintable(QStringLiteral("loading (LoadStore) %1 mails").arg(mails)), clock.elapsed(),
          report.problems.isEmpty() && store.tables().MailCount() == mails);

    clock.start();
    bool ok = store.SaveAll();
    print("SaveAll, none changed", clock.elapsed(), ok);

    for (int id = 1; id <= mails; ++id)
        store.tables().mail(id).Status = "ERRMessage5";
    clock.start();
    ok = store.SaveAll();
    print("SaveAll, all changed", clock.elapsed(), ok);

    // 1000 mails spread over the store moved to the deleted folder, then removed for good at once.
    MailTables& tables = store.tables();
    for (int n = 0; n < 1000; ++n) {
        FolderArray& sent = tables.folder(SentFolder);
        const qint16 pos = qint16(1 + (n * 24) % sent.count);
        tables.MoveMail(pos, SentFolder, DeletedFolder);
        sent.removeAt(pos);
    }
    QList<qint16> positions;
    for (int pos = 1; pos <= tables.count(DeletedFolder); ++pos)
        positions.append(pos);
    clock.start();
    ok = store.removeForGood(positions);
    print("removing 1000 mails for good at once", clock.elapsed(),
          ok && tables.MailCount() == mails - 1000 && QDir(store.mailsFolder()).count() == uint(mails - 1000 + 2));
    return 0;
}
