#include "smtp/Addresses.h"

#include "store/Ansi.h"

#include <algorithm>

namespace kadmel {
namespace {

bool isControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmedBlanks(const QByteArray& text)
{
    qsizetype start = 0, end = text.size();
    while (start < end && isBlank(text[start]))
        ++start;
    while (end > start && isBlank(text[end - 1]))
        --end;
    return text.mid(start, end - start);
}

// The pieces between "," and ";" that stand outside quotes and angle brackets.
QList<QByteArray> entriesOf(const QByteArray& text)
{
    QList<QByteArray> entries;
    bool quoted = false, bracket = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ',';
        if (quoted && c == '\\') {
            ++i;
        } else if (c == '"' && !bracket) {
            quoted = !quoted;
        } else if (!quoted && (c == '<' || c == '>')) {
            bracket = c == '<';
        } else if (!quoted && !bracket && (c == ',' || c == ';')) {
            entries.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    if (quoted || bracket) // the last entry runs to the end: it is refused as it stands
        entries.append(text.mid(start));
    return entries;
}

// A quoted name without its quotes and escapes; nothing when it is not one whole quoted string.
std::optional<QByteArray> unquoted(const QByteArray& name)
{
    if (name.size() < 2 || !name.startsWith('"') || !name.endsWith('"'))
        return name.contains('"') ? std::nullopt : std::optional<QByteArray>(name);
    QByteArray plain;
    for (qsizetype i = 1; i < name.size() - 1; ++i) {
        if (name[i] == '"')
            return std::nullopt;
        if (name[i] == '\\' && i + 1 < name.size() - 1)
            ++i;
        plain += name[i];
    }
    return plain;
}

std::optional<Mailbox> mailboxOf(const QByteArray& entry)
{
    Mailbox box;
    const qsizetype open = entry.lastIndexOf('<');
    if (open < 0) {
        box.address = entry;
    } else {
        const qsizetype close = entry.indexOf('>', open);
        if (close < 0 || !trimmedBlanks(entry.mid(close + 1)).isEmpty())
            return std::nullopt;
        const std::optional<QByteArray> name = unquoted(trimmedBlanks(entry.left(open)));
        if (!name)
            return std::nullopt;
        box.name = *name;
        box.address = entry.mid(open + 1, close - open - 1);
    }
    // Inside "<…>" of MAIL FROM and RCPT TO a blank or a ">" would start parameters or a second address.
    if (std::any_of(box.address.begin(), box.address.end(), [](char c) {
            return c == ' ' || c == '<' || c == '>' || c == '"' || c == ',' || c == ';' || isControl(c);
        }))
        return std::nullopt;
    return box;
}

} // namespace

std::optional<QList<Mailbox>> parseAddressList(const QByteArray& text, const QByteArray& field, QByteArray* problem)
{
    QList<Mailbox> boxes;
    for (const QByteArray& raw : entriesOf(text)) {
        const QByteArray entry = trimmedBlanks(raw);
        if (entry.isEmpty())
            continue;
        const std::optional<Mailbox> box = mailboxOf(entry);
        if (!box) {
            QByteArray shown = entry.left(100);
            std::replace_if(shown.begin(), shown.end(), isControl, '?');
            *problem = field + " \x84" + shown + "\x93 ist keine E-Mail-Adresse.";
            return std::nullopt;
        }
        boxes.append(*box);
    }
    return boxes;
}

QByteArray wireAddress(const QByteArray& address)
{
    const bool eightBit =
        std::any_of(address.begin(), address.end(), [](char c) { return static_cast<unsigned char>(c) > 0x7F; });
    return eightBit ? fromAnsi(address).toUtf8() : address;
}

} // namespace kadmel
