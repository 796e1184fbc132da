#include "store/ArchiveIndex.h"

#include "store/Ansi.h"
#include "store/FileAccess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace kadmel {
namespace {

constexpr qsizetype FieldCount = 9;
constexpr qsizetype MaxFieldBytes = 2000; // a search index, not the mail: the copy holds every byte
constexpr qint64 HeadFileBytes = 64 << 10;

QByteArray escaped(QByteArray value)
{
    if (value.size() > MaxFieldBytes) {
        value.truncate(MaxFieldBytes);
        while (!value.isEmpty() && (uchar(value.back()) & 0xC0) == 0x80) // no UTF-8 character cut in two
            value.chop(1);
        if (!value.isEmpty() && uchar(value.back()) >= 0xC0)
            value.chop(1);
    }
    QByteArray out;
    out.reserve(value.size());
    for (const char c : std::as_const(value)) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<QByteArray> unescaped(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i == field.size())
            return std::nullopt;
        switch (field[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

// The header's fields, each unfolded.
QList<std::pair<QByteArray, QByteArray>> headerFields(const QByteArray& header)
{
    QList<std::pair<QByteArray, QByteArray>> fields;
    for (const QByteArray& line : header.split('\n')) {
        const QByteArray text = line.endsWith('\r') ? line.chopped(1) : line;
        if ((text.startsWith(' ') || text.startsWith('\t')) && !fields.isEmpty()) {
            fields.back().second += text;
        } else if (const qsizetype colon = text.indexOf(':'); colon > 0) {
            fields.append({text.left(colon).trimmed().toLower(), text.mid(colon + 1)});
        }
    }
    return fields;
}

QString decodedWord(const QByteArray& charset, const QByteArray& encoding, const QByteArray& text)
{
    QByteArray bytes;
    if (encoding.toUpper() == "B") {
        bytes = QByteArray::fromBase64(text);
    } else {
        QByteArray spaced = text;
        spaced.replace('_', ' ');
        bytes = QByteArray::fromPercentEncoding(spaced, '=');
    }
    return charset.toLower() == "utf-8" ? QString::fromUtf8(bytes) : fromAnsi(bytes);
}

// RFC 2047 words as the text they stand for, blanks between two of them dropped; UTF-8.
QByteArray decodedHeader(const QByteArray& value)
{
    static const QRegularExpression word(QStringLiteral("=\\?([^?]+)\\?([BbQq])\\?([^?]*)\\?="));
    const QString text = QString::fromLatin1(value.trimmed());
    QString out;
    qsizetype at = 0;
    bool lastWasWord = false;
    for (QRegularExpressionMatchIterator it = word.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString between = text.mid(at, match.capturedStart() - at);
        if (!(lastWasWord && between.trimmed().isEmpty()))
            out += QString::fromUtf8(between.toLatin1());
        out += decodedWord(match.captured(1).toLatin1(), match.captured(2).toLatin1(), match.captured(3).toLatin1());
        at = match.capturedEnd();
        lastWasWord = true;
    }
    out += QString::fromUtf8(text.mid(at).toLatin1());
    return out.toUtf8();
}

QByteArray fieldOf(const QList<std::pair<QByteArray, QByteArray>>& fields, const QByteArray& name)
{
    QByteArrayList values;
    for (const auto& [key, value] : fields) {
        if (key == name)
            values << decodedHeader(value);
    }
    return values.join(", ");
}

// The names in the parts' "Content-Disposition: attachment" lines.
QByteArray attachmentNames(const QByteArray& message, qsizetype bodyAt)
{
    static const QRegularExpression quoted(QStringLiteral("filename=\"([^\"]*)\""));
    static const QRegularExpression extended(QStringLiteral("filename\\*=[^']*'[^']*'([^;\\s]*)"));
    QByteArrayList names;
    const QByteArray marker = "\nContent-Disposition: attachment";
    for (qsizetype at = message.indexOf(marker, bodyAt); at >= 0; at = message.indexOf(marker, at + 1)) {
        const qsizetype end = message.indexOf("\r\n\r\n", at);
        const QByteArray part = end < 0 ? QByteArray() : message.mid(at, std::min<qsizetype>(end - at, 4096));
        const QString fields = QString::fromLatin1(part).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
        if (const QRegularExpressionMatch m = extended.match(fields); m.hasMatch())
            names << QByteArray::fromPercentEncoding(m.captured(1).toLatin1());
        else if (const QRegularExpressionMatch q = quoted.match(fields); q.hasMatch())
            names << fromAnsi(q.captured(1).toLatin1()).toUtf8();
    }
    return names.join("; ");
}

} // namespace

QByteArray composeLine(const IndexLine& line)
{
    return QByteArrayList{escaped(line.time),       escaped(line.messageId), escaped(line.sender),
                          escaped(line.recipients), escaped(line.subject),   escaped(line.attachments),
                          escaped(line.file),       line.fileHash,           line.previousHash}
        .join('\t');
}

std::optional<IndexLine> parseLine(const QByteArray& bytes)
{
    const QByteArrayList parts = bytes.split('\t');
    if (parts.size() != FieldCount)
        return std::nullopt;
    QByteArrayList fields;
    for (const QByteArray& part : parts) {
        const std::optional<QByteArray> field = unescaped(part);
        if (!field)
            return std::nullopt;
        fields << *field;
    }
    return IndexLine{fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], fields[6], fields[7], fields[8]};
}

QByteArray hashOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray hashOf(QIODevice& device)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return hash.addData(&device) ? hash.result().toHex() : QByteArray();
}

QByteArray chainStart()
{
    return QByteArray(64, '0');
}

IndexLine describeCopy(const QString& file, const QByteArray& message)
{
    qsizetype bodyAt = message.indexOf("\r\n\r\n");
    if (bodyAt < 0)
        bodyAt = message.size();
    const auto fields = headerFields(message.left(bodyAt));
    const QString name = file.section(QLatin1Char('/'), -1);
    const QByteArray time =
        (name.left(10) + QLatin1Char('T') + name.mid(11, 8).replace(QLatin1Char('.'), QLatin1Char(':'))).toUtf8();
    QByteArray recipients = fieldOf(fields, "to");
    if (const QByteArray copies = fieldOf(fields, "cc"); !copies.isEmpty())
        recipients += (recipients.isEmpty() ? "" : ", ") + copies;
    return {time,
            fieldOf(fields, "message-id"),
            fieldOf(fields, "from"),
            recipients,
            fieldOf(fields, "subject"),
            attachmentNames(message, bodyAt),
            file.toUtf8(),
            {},
            {}};
}

QStringList archiveYears(const QString& root)
{
    static const QRegularExpression year(QStringLiteral("^\\d{4}$"));
    return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).filter(year);
}

QStringList archiveMonths(const QString& yearFolder)
{
    static const QRegularExpression month(QStringLiteral("^\\d\\d$"));
    return QDir(yearFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name).filter(month);
}

FolderHandle openArchive(const QString& root)
{
    // "/." ends the path in a name that is no link: the archive folder itself may be reached through one.
    return FolderHandle(QFile::encodeName(root) + "/.");
}

IndexRead readIndexLines(FolderHandle& year, const std::function<void(const QByteArray&, bool)>& each)
{
    if (year.list([](const QByteArray& name) { return name == IndexFileName; }).isEmpty())
        return year.state() == FolderHandle::State::Open ? IndexRead::Missing : IndexRead::Unreadable;
    QFile file;
    FileRead why;
    if (!year.open(IndexFileName, file, why))
        return IndexRead::Unreadable;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(MaxIndexLineBytes + 1);
        if (line.isEmpty() && file.error() != QFileDevice::NoError)
            return IndexRead::Unreadable;
        if (line.endsWith('\n')) {
            line.chop(1);
            each(line, true);
            continue;
        }
        while (!file.atEnd() && !file.readLine(MaxIndexLineBytes + 1).endsWith('\n')) {
        }
        each(line, false);
    }
    return IndexRead::Read;
}

QString canonicalArchive(const QString& root)
{
    const QString canonical = QFileInfo(root).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(root) : canonical;
}

std::optional<ChainHead> readChainHead(const QString& path)
{
    QByteArray bytes;
    if (readWholeFile(path, HeadFileBytes, bytes, nullptr) != ReadOutcome::Read)
        return std::nullopt;
    ChainHead head;
    bool counted = false;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        const QByteArray key = line.left(eq), value = line.mid(eq + 1);
        if (key == "Archiv")
            head.archive = QString::fromUtf8(value);
        else if (key == "Zeilen")
            head.lines = value.toLongLong(&counted);
        else if (key == "Letzte")
            head.lastHash = value;
        else if (key == "Abweichung")
            head.rewritten = value;
    }
    if (head.archive.isEmpty() || !counted || head.lastHash.size() != 64)
        return std::nullopt;
    return head;
}

bool writeChainHead(const QString& path, const ChainHead& head, QString* error)
{
    QByteArray bytes = "Archiv=" + head.archive.toUtf8() + "\nZeilen=" + QByteArray::number(head.lines) +
                       "\nLetzte=" + head.lastHash + '\n';
    if (!head.rewritten.isEmpty())
        bytes += "Abweichung=" + head.rewritten + '\n';
    return writeWholeFile(path, bytes, error);
}

} // namespace kadmel
