#include "store/KadmelIni.h"

#include "store/RetrySetting.h"
#include "store/SizeSetting.h"

#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

#include <utility>

namespace kadmel {
namespace {

// [Archiv] and [Quittung] each name a folder under "Ordner"; empty or missing: none, and an empty one is
// saved by taking the key out.
const QByteArray FolderKey = "Ordner";
const QByteArray AskBeforeRemovingKey = "EntfernenFragen";

FolderSetting readFolder(const QByteArrayList& lines, const char* section)
{
    return FolderSetting(iniSection(lines, section).value(FolderKey).value_or(QByteArray()));
}

IniChange folderChange(const char* section, const FolderSetting& folder)
{
    return {section, FolderKey, folder.isEmpty() ? std::nullopt : std::optional(folder.bytes())};
}

qint32 readKeepSentDays(const IniSection& section)
{
    const QByteArray value = section.value("GesendeteTage").value_or(QByteArray());
    const bool digits = !value.isEmpty() && value.size() <= 5 &&
                        std::all_of(value.cbegin(), value.cend(), [](char c) { return c >= '0' && c <= '9'; });
    const qint32 days = digits ? value.toInt() : 0;
    return days <= MostKeepSentDays ? days : 0;
}

} // namespace

bool pacingConfigured(const KadmelIni& ini)
{
    return ini.pace.isSet();
}

KadmelIni readKadmelIni(const QByteArray& bytes)
{
    KadmelIni ini;
    ini.outcome = ReadOutcome::Read;
    ini.bytes = bytes;
    const QByteArrayList lines = iniLines(bytes);
    ini.encryption = readEncryption(lines, &ini.encryptionProblem);
    ini.signIn = readAuthSetting(iniSection(lines, "Anmeldung"), &ini.signInProblem);
    ini.retry = readRetrySetting(iniSection(lines, "Zustellung"));
    ini.maxMessageMB = readMaxMessageMB(iniSection(lines, "Zustellung"));
    ini.pace = readPaceLimits(iniSection(lines, "Zustellung"));
    ini.mailsPerConnection = readMailsPerConnection(iniSection(lines, "Zustellung"));
    ini.placement = readWindowPlacement(iniSection(lines, "Fenster"));
    ini.archiveFolder = readFolder(lines, "Archiv");
    ini.receiptFolder = readFolder(lines, "Quittung");
    const std::optional<QByteArray> deleteSent = iniSection(lines, "Anhaenge").value("NachVersandLoeschen");
    ini.deleteSentAttachments = deleteSent && deleteSent->trimmed().compare("true", Qt::CaseInsensitive) == 0;
    ini.keepSentDays = readKeepSentDays(iniSection(lines, "Aufbewahrung"));
    ini.askBeforeRemoving = iniSection(lines, "Fenster").value(AskBeforeRemovingKey).value_or("1").trimmed() != "0";
    return ini;
}

KadmelIni unreadableKadmelIni(const QString& reason)
{
    KadmelIni ini;
    ini.outcome = ReadOutcome::Failed;
    ini.encryptionProblem = ini.signInProblem =
        reason + QStringLiteral(" Es werden keine E-Mails gesendet, auch nicht unverschlüsselt.");
    return ini;
}

KadmelIniFile::KadmelIniFile(const QString& programFolder, QObject* parent)
    : QObject(parent), m_path(iniFilePathIn(programFolder))
{}

void KadmelIniFile::hold(const KadmelIni& ini)
{
    m_ini = ini;
    m_held = true;
    m_readAt.reset();
    announce();
}

void KadmelIniFile::announce()
{
    // Queued: a listener must not act on kadmel.ini between its write and the other steps of a save.
    if (std::exchange(m_announced, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_announced = false;
            Q_EMIT changed();
        },
        Qt::QueuedConnection);
}

KadmelIniFile::Stamp KadmelIniFile::stamp() const
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(m_path).constData(), &info) != 0)
        return {};
    return {true, qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            quint64(info.st_ino), quint64(info.st_dev)};
}

const KadmelIni& KadmelIniFile::read()
{
    // Stamped before reading: a change during the read is seen at the next look.
    const Stamp now = stamp();
    if (m_readAt == now)
        return m_ini;
    const ReadOutcome heldOutcome = m_ini.outcome;
    const QByteArray heldBytes = m_ini.bytes;
    QByteArray bytes;
    QString error;
    switch (readWholeFile(m_path, MaxIniFileBytes, bytes, &error)) {
    case ReadOutcome::Missing:
        m_ini = readKadmelIni({});
        m_ini.outcome = ReadOutcome::Missing;
        break;
    case ReadOutcome::Failed:
        m_ini = unreadableKadmelIni(error);
        break;
    case ReadOutcome::Read:
        m_ini = readKadmelIni(bytes);
        break;
    }
    // Another hand changed the file (another instance, an editor); the writes through here announced themselves.
    if (m_held && (heldOutcome != m_ini.outcome || heldBytes != m_ini.bytes))
        announce();
    m_held = true;
    m_readAt = now;
    return m_ini;
}

bool KadmelIniFile::write(const KadmelIniChanges& changes, QString* error)
{
    // A link in the file's place is replaced, and what it points to is neither read nor kept.
    QByteArray old;
    if (!QFileInfo(m_path).isSymLink() && readWholeFile(m_path, MaxIniFileBytes, old, error) == ReadOutcome::Failed)
        return false;
    QList<IniChange> edits;
    if (changes.encryption)
        edits.append(encryptionIniChange(*changes.encryption));
    if (changes.signIn)
        edits += authIniChanges(*changes.signIn);
    if (changes.retry)
        edits.append(retryIniChange(*changes.retry));
    if (changes.maxMessageMB)
        edits.append(maxMessageIniChange(*changes.maxMessageMB));
    if (changes.pace)
        edits += paceIniChanges(*changes.pace);
    if (changes.placement)
        edits += placementIniChanges(*changes.placement);
    if (changes.archiveFolder)
        edits.append(folderChange("Archiv", *changes.archiveFolder));
    if (changes.receiptFolder)
        edits.append(folderChange("Quittung", *changes.receiptFolder));
    if (changes.askBeforeRemoving)
        edits.append({"Fenster", AskBeforeRemovingKey, *changes.askBeforeRemoving ? "1" : "0"});
    // Saving the encryption replaces every other attempt to set it, so that the choice made here is the one
    // read back; any other save leaves such lines alone, so that one not understood goes on refusing.
    const IniLineTest none;
    const std::optional<QByteArray> text =
        editIniText(old, edits, error, changes.encryption ? looksLikeEncryption : none,
                    changes.encryption ? none : looksLikeEncryption);
    if (!text || !writeWholeFile(m_path, *text, error))
        return false;
    hold(readKadmelIni(*text));
    return true;
}

bool KadmelIniFile::putBack(const KadmelIni& before, QString* error)
{
    bool done = true; // never readable: nothing to put back
    switch (before.outcome) {
    case ReadOutcome::Read:
        done = writeWholeFile(m_path, before.bytes, error);
        break;
    case ReadOutcome::Missing:
        done = removeFile(m_path, error);
        break;
    case ReadOutcome::Failed:
        return true;
    }
    if (done)
        hold(before);
    return done;
}

} // namespace kadmel
