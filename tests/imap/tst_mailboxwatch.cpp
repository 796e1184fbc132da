#include "imap/MailboxPlan.h"
#include "imap/MailboxState.h"
#include "imap/MailboxWatch.h"
#include "store/StorePaths.h"
#include "support/Dovecot.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kadmel;

namespace {

// Dovecot's first sign-in and a 50 MB message take their time on a loaded machine.
constexpr int Patience = 30000;

QByteArray mail(const QByteArray& id, const QByteArray& body = "Hallo.\r\n")
{
    return "From: MAILER-DAEMON@example.org\r\nTo: kadmel@example.org\r\nMessage-ID: <" + id +
           "@example.org>\r\nSubject: " + id + "\r\n\r\n" + body;
}

MailboxPlan planFor(quint16 port, const QByteArray& moveTo = {})
{
    return {{"localhost", port, moveTo}, {"localhost", port, true, "kadmel", "geheim"}};
}

// A watch that looks every 300 ms (every `intervalMs`) and takes each message at once, as ours where `ours`
// says so; `fetched` collects them.
std::unique_ptr<MailboxWatch> watching(const QString& store, MailboxWatch::PlanSource plan,
                                       const test::Dovecot& dovecot, QList<QByteArray>* fetched = nullptr,
                                       QByteArray ours = {}, int intervalMs = 300)
{
    auto watch =
        std::make_unique<MailboxWatch>(store, std::move(plan), nullptr, nullptr,
                                       MailboxWatchTimings{intervalMs, {10000, 30000, dovecot.caCertificates()}});
    QObject::connect(watch.get(), &MailboxWatch::messageFetched, watch.get(),
                     [=, w = watch.get()](const QByteArray& m) {
                         if (fetched)
                             fetched->append(m);
                         w->handled(!ours.isEmpty() && m.contains(ours));
                     });
    return watch;
}

// The last UID the side file keeps; 0 without one.
quint32 keptUid(const QString& folder)
{
    QFile file(reportMailboxPathIn(folder));
    const std::optional<MailboxState> state =
        file.open(QIODevice::ReadOnly) ? decodeMailboxState(file.readAll()) : std::nullopt;
    return state ? state->lastUid : 0;
}

} // namespace

class TestMailboxWatch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void fetchesEachNewMessageOnce();
    void unreachableIsSaidOnce();
    void movesOnlyReportsOfOurs();
};

void TestMailboxWatch::fetchesEachNewMessageOnce()
{
    test::Dovecot dovecot;
    QVERIFY(dovecot.start());
    const QTemporaryDir store;
    dovecot.deliver(mail("alt")); // there before the first look: never read
    QList<QByteArray> fetched;
    {
        // TLS from the first byte.
        const auto watch = watching(
            store.path(), [&] { return planFor(dovecot.tlsPort()); }, dovecot, &fetched);
        QSignalSpy problems(watch.get(), &MailboxWatch::problem);
        watch->start();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(reportMailboxPathIn(store.path())), Patience);
        dovecot.deliver(mail("eins"));
        dovecot.deliver(mail("zwei"));
        QTRY_COMPARE_WITH_TIMEOUT(keptUid(store.path()), 3u, Patience);
        QCOMPARE(fetched, (QList<QByteArray>{mail("eins"), mail("zwei")}));
        QVERIFY(problems.isEmpty());
        // Read-only: every message still in new/, none marked read.
        for (const QString& name : dovecot.messages(true).keys())
            QVERIFY2(name.startsWith(QStringLiteral("/new/")) && !name.contains(u':'), qPrintable(name));
    }
    // A new start over STARTTLS, its plan from the settings: only what came since, and a 50 MB message only in part.
    const QByteArray ini = "[SMTP]\nVerschluesselung=STARTTLS\n[Rueckmeldungen]\nPostfach=localhost:" +
                           QByteArray::number(dovecot.starttlsPort()) + '\n';
    const Settings settings{"", "localhost", 587, "kadmel", "geheim", 2, 1};
    QCOMPARE(decideMailbox(settings, readKadmelIni(ini)).server.tlsFromStart, false);
    const auto watch = watching(
        store.path(), [&] { return decideMailbox(settings, readKadmelIni(ini)); }, dovecot, &fetched);
    const QByteArray huge = mail("gross", QByteArray(50 * 1000 * 1000, 'x'));
    dovecot.deliver(huge);
    dovecot.deliver(mail("drei"));
    watch->start();
    QTRY_COMPARE_WITH_TIMEOUT(keptUid(store.path()), 5u, Patience);
    QCOMPARE(fetched.size(), 4);
    QCOMPARE(fetched.at(2), huge.left(ImapSession::MaxMessageBytes));
    QCOMPARE(fetched.at(3), mail("drei"));
}

void TestMailboxWatch::unreachableIsSaidOnce()
{
    test::Dovecot dovecot; // its port still closed
    const QTemporaryDir store;
    const auto watch = watching(
        store.path(), [&] { return planFor(dovecot.tlsPort()); }, dovecot, nullptr, {}, 100);
    QSignalSpy problems(watch.get(), &MailboxWatch::problem);
    QSignalSpy over(watch.get(), &MailboxWatch::problemOver);
    watch->start();
    QTRY_COMPARE_WITH_TIMEOUT(problems.size(), 1, Patience);
    QCOMPARE(problems.at(0).at(0).toByteArray(), QByteArray("Postfach f\xFCr R\xFC"
                                                            "ckmeldungen nicht erreichbar: Verbindung abgelehnt"));
    QTest::qWait(600); // several looks more, all failing
    QCOMPARE(problems.size(), 1);
    QVERIFY(dovecot.start());
    QTRY_COMPARE_WITH_TIMEOUT(over.size(), 1, Patience);
    QCOMPARE(problems.size(), 1);
}

void TestMailboxWatch::movesOnlyReportsOfOurs()
{
    test::Dovecot dovecot;
    QVERIFY(dovecot.start());
    dovecot.makeFolder(QStringLiteral("R&APw-ckmeldungen")); // "Rückmeldungen" as IMAP names it
    const QTemporaryDir store;
    const auto watch = watching(
        store.path(),
        [&] {
            return planFor(dovecot.tlsPort(), "R\xC3\xBC"
                                              "ckmeldungen");
        },
        dovecot, nullptr, "unsere");
    watch->start();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(reportMailboxPathIn(store.path())), Patience);
    watch->stop(); // no look between the deliveries and the picture of the mailbox before
    dovecot.deliver(mail("fremd"));
    dovecot.deliver(mail("unsere"));
    dovecot.deliver(mail("auch-fremd"));
    const QMap<QString, QByteArray> before = dovecot.messages();
    watch->start();
    QTRY_COMPARE_WITH_TIMEOUT(keptUid(store.path()), 3u, Patience);
    QMap<QString, QByteArray> after = dovecot.messages();
    QMap<QString, QByteArray> expected = before;
    expected.remove(expected.key(mail("unsere")));
    const QStringList moved = after.keys(mail("unsere"));
    QCOMPARE(moved.size(), 1);
    QVERIFY2(moved.at(0).startsWith(QStringLiteral("/.R&APw-ckmeldungen/")), qPrintable(moved.at(0)));
    after.remove(moved.at(0));
    QCOMPARE(after, expected);
}

QTEST_GUILESS_MAIN(TestMailboxWatch)
#include "tst_mailboxwatch.moc"
