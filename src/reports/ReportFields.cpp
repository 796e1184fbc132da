#include "reports/ReportFields.h"

#include "store/Ansi.h"

#include <QString>

namespace kadmel::reports {

namespace {

// A report of more recipients or fields is cut, never a reason to grow without bound.
constexpr qsizetype MaxBlocks = 300, MaxFields = 64;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits from `at`, at most `most`; how many.
qsizetype digitsAt(QByteArrayView text, qsizetype at, qsizetype most)
{
    qsizetype n = 0;
    while (at + n < text.size() && n < most && isDigit(text[at + n]))
        ++n;
    return n;
}

} // namespace

QList<FieldBlock> fieldBlocks(QByteArrayView text)
{
    QList<FieldBlock> blocks;
    FieldBlock block;
    qsizetype start = 0;
    while (start < text.size() && blocks.size() < MaxBlocks) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty()) {
            if (!block.isEmpty())
                blocks.append(std::exchange(block, {}));
            continue;
        }
        if ((line.front() == ' ' || line.front() == '\t') && !block.isEmpty()) {
            block.last().value += ' ' + line.trimmed().toByteArray(); // a folded line goes on its field
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.first(colon).contains(' ') || block.size() >= MaxFields)
            continue;
        block.append({line.first(colon).toByteArray().toLower(), line.sliced(colon + 1).trimmed().toByteArray()});
    }
    if (!block.isEmpty() && blocks.size() < MaxBlocks)
        blocks.append(block);
    return blocks;
}

QByteArray valueOf(const FieldBlock& block, QByteArrayView name)
{
    for (const Field& field : block)
        if (field.name == name)
            return field.value;
    return {};
}

QByteArray messageIdIn(QByteArrayView value)
{
    const qsizetype open = value.indexOf('<');
    const qsizetype close = open < 0 ? -1 : value.indexOf('>', open);
    if (close < 0)
        return {};
    const QByteArrayView id = value.sliced(open, close - open + 1);
    return id.contains('@') && !id.contains(' ') && id.size() <= 250 ? id.toByteArray() : QByteArray();
}

QByteArray typedValue(QByteArrayView value)
{
    const qsizetype semicolon = value.indexOf(';');
    return (semicolon < 0 ? value : value.sliced(semicolon + 1)).trimmed().toByteArray();
}

QByteArray typedAddress(QByteArrayView value)
{
    const QByteArray address = typedValue(value);
    return address.startsWith('<') && address.endsWith('>') ? address.mid(1, address.size() - 2) : address;
}

QByteArray statusIn(QByteArrayView text)
{
    for (qsizetype i = 0; i + 4 < text.size(); ++i) {
        const char c = text[i];
        if ((c != '2' && c != '4' && c != '5') || text[i + 1] != '.' ||
            (i > 0 && (isDigit(text[i - 1]) || text[i - 1] == '.')))
            continue;
        const qsizetype subject = digitsAt(text, i + 2, 3);
        if (subject == 0 || i + 2 + subject >= text.size() || text[i + 2 + subject] != '.')
            continue;
        const qsizetype detailAt = i + 3 + subject;
        const qsizetype detail = digitsAt(text, detailAt, 3);
        const qsizetype end = detailAt + detail;
        if (detail > 0 && (end == text.size() || (!isDigit(text[end]) && text[end] != '.')))
            return text.sliced(i, end - i).toByteArray();
    }
    return {};
}

qsizetype replyCodeIn(QByteArrayView text)
{
    for (qsizetype i = 0; i + 3 < text.size(); ++i) {
        if ((text[i] != '4' && text[i] != '5') || digitsAt(text, i, 4) != 3 || (i > 0 && isDigit(text[i - 1])) ||
            (i > 0 && text[i - 1] != ' ' && text[i - 1] != '\t' && text[i - 1] != ';' && text[i - 1] != ':'))
            continue;
        if (text[i + 3] == ' ' || text[i + 3] == '-')
            return i;
    }
    return -1;
}

QByteArray storeText(QByteArrayView text, qsizetype limit)
{
    QByteArray bytes = text.isValidUtf8() ? toAnsi(QString::fromUtf8(text)) : text.toByteArray();
    for (char& c : bytes)
        if (uchar(c) < 32 || c == 127) // no control byte reaches a reason shown or written to a receipt
            c = ' ';
    QByteArray line = bytes.simplified();
    if (line.size() > limit)
        line = line.first(limit - 3) + "...";
    return line;
}

} // namespace kadmel::reports
