#include "StoreFiles.h"
#include "store/FolderSetting.h"
#include "store/KadmelIni.h"

#include <QDateTime>
#include <QProcess>
#include <QSignalSpy>

using namespace kadmel;
using namespace kadmel::test;

class TestIniFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // One write changes the keys of the parts it is given in their place and keeps every other byte: unknown
    // sections and keys, comments, order, the byte order mark, each line's end. A key not there yet ends its
    // section; a section not there yet ends the file. What was written reads back.
    void writeKeepsWhatItDoesNotOwn()
    {
        struct Row
        {
            const char* name;
            QByteArray before;
            KadmelIniChanges changes;
            QByteArray after;
        };
        const KadmelIniChanges all{
            .encryption = Encryption::SslTls, .retry = true, .placement = WindowPlacement{{}, false, {100, 200}, {}}};
        const KadmelIniChanges startTlsRetryOff{.encryption = Encryption::StartTls, .retry = false};
        const KadmelIniChanges signIn{
            .signIn = AuthSetting{AuthMethod::OAuth2Dienst, "https://t.example/token", {}, "id", "A", "\"s\"", {}}};
        const Row rows[] = {
            {"byte order mark, CR LF, comments, unknown sections and keys, a look-alike dropped",
             "\xEF\xBB\xBF; "
             "Kadmel\r\n[SMTP]\r\nverschluesselung=STARTTLS\r\nZeitlimit=30\r\n\r\n[Fenster]\r\nBreite=640\r\n"
             "Maximiert=1\r\nVerschl\xFCsselung=Keine\r\n[Eigenes]\r\n# Kommentar\r\nSchluessel = Wert\r\n",
             all,
             "\xEF\xBB\xBF; "
             "Kadmel\r\n[SMTP]\r\nVerschluesselung=SSL/TLS\r\nZeitlimit=30\r\n\r\n[Fenster]\r\nBreite=640\r\n"
             "Maximiert=0\r\nTeiler=100,200\r\n[Eigenes]\r\n# Kommentar\r\nSchluessel = Wert\r\n\r\n[Zustellung]\r\n"
             "AutomatischWiederholen=true\r\n"},
            {"CR only, no end on the last line", "[SMTP]\rVerschluesselung=Keine", startTlsRetryOff,
             "[SMTP]\rVerschluesselung=STARTTLS\r\r[Zustellung]\rAutomatischWiederholen=false\r"},
            {"the key before the sections set in place, its copy gone",
             "Verschluesselung=Keine\n[SMTP]\nverschluesselung=keine\n[zustellung]\nautomatischwiederholen=TRUE\n\n",
             startTlsRetryOff, "Verschluesselung=STARTTLS\n[SMTP]\n[zustellung]\nAutomatischWiederholen=false\n\n"},
            {"no file: one section, secrets scrambled, a quoted value kept", "(none)", signIn,
             "[Anmeldung]\nVerfahren=OAuth2-Dienst\nTokenAdresse=https://t.example/token\nAutorisierungsAdresse=\n"
             "ClientId=id\nClientGeheimnis=K#L\nBereich=\"\"s\"\"\nAktualisierungstoken=\n"},
        };
        for (const Row& row : rows) {
            QTemporaryDir dir;
            KadmelIniFile file(dir.path());
            if (row.before != "(none)") {
                writeBytes(file.path(), row.before);
                QVERIFY(QFile::setPermissions(file.path(), QFileDevice::Permissions(0x6644)));
            }
            QString error;
            QVERIFY2(file.write(row.changes, &error), qPrintable(error));
            QCOMPARE(fileBytes(file.path()), row.after);
            QVERIFY2(ownerOnly(file.path()), row.name);
            const KadmelIni& ini = file.read();
            const KadmelIniChanges& c = row.changes;
            QVERIFY2((!c.encryption || ini.encryption == c.encryption) && (!c.retry || ini.retry == *c.retry) &&
                         (!c.placement || ini.placement == *c.placement) && (!c.signIn || ini.signIn == c.signIn),
                     row.name);
        }
        // A folder in the file's place: the write says why, naming the file.
        QTemporaryDir dir;
        KadmelIniFile file(dir.path());
        QString error;
        QVERIFY(QDir().mkdir(file.path()) && !file.write(all, &error));
        QVERIFY2(error.contains(QStringLiteral("„kadmel.ini“")), qPrintable(error));
    }

    // Every part fails alike when the file cannot be read: unset, with the same reason, nothing assumed. One
    // cap for all: a file at it is read whole, a byte more is neither read nor overwritten. A part that is not
    // understood leaves the others as they are.
    void failsClosedForEveryPart()
    {
        QTemporaryDir dir;
        KadmelIniFile file(dir.path());
        const QByteArray bytes = "[SMTP]\nVerschluesselung=STARTTLS\n[Zustellung]\nAutomatischWiederholen=true\n"
                                 "[Fenster]\nPosition=1,2,0,5\nSpalten1=1,2,3\nTeiler=100, 200\n;";
        writeBytes(file.path(), bytes.leftJustified(MaxIniFileBytes, 'x'));
        const KadmelIni atCap = file.read();
        QVERIFY(atCap.encryption == Encryption::StartTls && atCap.retry && atCap.signIn == AuthSetting{});
        QCOMPARE(atCap.placement, (WindowPlacement{{}, false, {100, 200}, {}})); // values out of range stay unset

        writeBytes(file.path(), bytes.leftJustified(MaxIniFileBytes + 1, 'x'));
        const KadmelIni over = file.read();
        QVERIFY(!over.encryption && !over.signIn && !over.retry && over.placement == WindowPlacement());
        QVERIFY2(over.encryptionProblem.contains(QStringLiteral("auch nicht unverschlüsselt")),
                 qPrintable(over.encryptionProblem));
        QCOMPARE(over.signInProblem, over.encryptionProblem);
        QString error;
        QVERIFY(!file.write({.retry = false}, &error));
        QVERIFY2(error.contains(QStringLiteral("zu groß")) && QFileInfo(file.path()).size() == MaxIniFileBytes + 1,
                 qPrintable(error));

        writeBytes(file.path(), "[SMTP]\nVerschluesselung=SSL/TLS\n[Anmeldung]\nVerfahren=SAML\n");
        const KadmelIni unknown = file.read();
        QVERIFY(unknown.encryption == Encryption::SslTls && !unknown.signIn);
        QVERIFY2(unknown.signInProblem.contains(QStringLiteral("„SAML“ ist unbekannt")),
                 qPrintable(unknown.signInProblem));

        // A line not understood as the encryption keeps refusing it when another part is saved, even under that
        // part's own key; only a saved encryption replaces it.
        writeBytes(file.path(), "[SMTP]\nVerschluesselung=STARTTLS\n[Fenster]\nPosition=1,TLS\n");
        QVERIFY(!file.read().encryption);
        QVERIFY(file.write({.placement = WindowPlacement()}, &error));
        QVERIFY(!file.read().encryption && fileBytes(file.path()).contains("Position=1,TLS\n"));
        QVERIFY(file.write({.encryption = Encryption::SslTls}, &error));
        QCOMPARE(file.read().encryption, Encryption::SslTls);

        // The retry choice is on for "true" in any letter case alone, as people write it by hand.
        const std::pair<QByteArray, bool> retries[] = {
            {" TRUE", true}, {"\"True\"", true}, {"1", false}, {"t rue", false}, {"true;", false}};
        for (const auto& [value, on] : retries)
            QVERIFY2(readKadmelIni("[zustellung]\nautomatischWiederholen =" + value).retry == on, value.constData());
        // The size limit: a whole number of MB; anything else is the default, never no limit.
        const std::pair<QByteArray, qint32> limits[] = {{"", 25},   {" 0", 0},      {"40", 40},  {"1,5", 25},
                                                        {"-1", 25}, {"100001", 25}, {"1e3", 25}, {"\"10\"", 10}};
        for (const auto& [value, megabytes] : limits)
            QVERIFY2(readKadmelIni("[Zustellung]\nMaximaleGroesseMB=" + value).maxMessageMB == megabytes,
                     value.constData());
        // The retention: whole days up to 100 years; anything else keeps every sent mail.
        const std::pair<QByteArray, qint32> kept[] = {
            {"", 0}, {"36500", 36500}, {"36501", 0}, {"-5", 0}, {"7 Tage", 0}};
        for (const auto& [value, days] : kept)
            QVERIFY2(readKadmelIni("[aufbewahrung]\nGesendeteTage=" + value).keepSentDays == days, value.constData());
        // The report mailbox: server and port 1 to 65535; empty is off without a word, anything else off and said.
        const std::pair<QByteArray, quint16> mailboxes[] = {
            {"", 0}, {" imap.firma.de : 993", 993}, {"imap.firma.de", 0}, {":993", 0}, {"a:0", 0}, {"a:65536", 0}};
        for (const auto& [value, port] : mailboxes) {
            const KadmelIni ini = readKadmelIni("[Rueckmeldungen]\nPostfach=" + value + "\nVerschieben=Alt");
            QVERIFY2(ini.reportMailbox.port == port && ini.reportMailbox.isSet() == (port != 0) &&
                         ini.reportMailboxProblem.isEmpty() == (port != 0 || value.isEmpty()),
                     value.constData());
        }
    }

    // The file is read again only when it changed: its size, time or inode. A change that keeps all three is not
    // seen; the program's own writes always are (a new inode). changed() tells of each change once.
    void readAgainOnlyWhenChanged()
    {
        QTemporaryDir dir;
        KadmelIniFile file(dir.path());
        QSignalSpy said(&file, &KadmelIniFile::changed);
        QVERIFY(!file.read().retry);
        QVERIFY(KadmelIniFile(dir.path()).write({.retry = true}, nullptr)); // another instance writes
        QVERIFY(file.read().retry && said.wait(5000));
        // Its own writes of one turn say so once, and reading them back not again.
        QVERIFY(file.write({.retry = false}, nullptr) && file.write({.retry = true}, nullptr) && file.read().retry);
        QVERIFY(said.wait(5000) && !said.wait(20) && said.count() == 2);

        const QDateTime fixed = QDateTime::fromSecsSinceEpoch(1800000000);
        QFile same(file.path());
        QVERIFY(same.open(QIODevice::ReadWrite) && same.setFileTime(fixed, QFileDevice::FileModificationTime));
        QVERIFY(file.read().retry);
        const QByteArray before = fileBytes(file.path());
        QByteArray changed = before;
        changed.replace("=true", "=TRUE");
        QVERIFY(same.seek(0) && same.write(changed) == changed.size() && same.flush());
        QVERIFY(same.setFileTime(fixed, QFileDevice::FileModificationTime));
        QCOMPARE(file.read().bytes, before); // size, time and inode as they were: not read again

        QVERIFY(same.setFileTime(fixed.addSecs(1), QFileDevice::FileModificationTime));
        QCOMPARE(file.read().bytes, changed);
    }

    // A folder named for the archive or the receipts serves only when a file can be written there; each
    // refusal names its own reason. Root writes past permission bits, so its folder is made immutable.
    void folderRuleNamesItsReason()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("datei")), locked = dir.filePath(QStringLiteral("zu"));
        QVERIFY(QFile(file).open(QIODevice::WriteOnly) && QDir().mkdir(locked));
        const bool root = ::geteuid() == 0;
        QVERIFY(root ? QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), locked}) == 0
                     : QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QStringList reasons;
        for (const QString& folder :
             {QStringLiteral("Quittungen"), dir.filePath(QStringLiteral("fehlt")), file, locked, dir.path(), QString()})
            reasons << FolderSetting::typed(folder).problem(QStringLiteral("Der Ordner"));
        if (root)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), locked});
        QCOMPARE(reasons,
                 (QStringList{
                     QStringLiteral("Der Ordner „Quittungen“ ist kein vollständiger Pfad."),
                     QStringLiteral("Der Ordner „%1“ ist nicht vorhanden.").arg(dir.filePath(QStringLiteral("fehlt"))),
                     QStringLiteral("Der Ordner „%1“ ist kein Ordner.").arg(file),
                     QStringLiteral("Der Ordner „%1“ ist nicht beschreibbar.").arg(locked), QString(), QString()}));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files), QStringList{QStringLiteral("datei")});
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
