#include "store/MailKey.h"

#include "store/MailExtras.h"

#include <QCryptographicHash>

#include <algorithm>

namespace kadmel {
namespace {

constexpr qsizetype HashDigits = 16;

bool isHash(const QByteArray& text)
{
    return text.size() == HashDigits && std::all_of(text.cbegin(), text.cend(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// "<…>" only: any other text in Reserved is none, and so the escaped form of one never reads as a hash.
bool isKeyedMessageId(const QByteArray& id)
{
    return id.size() > 2 && id.size() <= MaxKeyedMessageId && id.startsWith('<') && id.endsWith('>');
}

} // namespace

MailKey MailKey::of(const MailRecord& mail)
{
    const QByteArray id = messageIdOf(mail);
    if (isKeyedMessageId(id))
        return {true, id};
    return fieldHashOf(mail);
}

MailKey MailKey::fieldHashOf(const MailRecord& mail)
{
    const QByteArray bodySize = QByteArray::number(mail.Body.size());
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const QByteArray* part : {&mail.From, &mail.To, &mail.Subject, &mail.Date, &bodySize}) {
        hash.addData(QByteArray::number(part->size()) + ':');
        hash.addData(*part);
    }
    return {false, hash.result().toHex().left(HashDigits)};
}

QList<MailKey> MailKey::keysOf(const MailRecord& mail)
{
    QList<MailKey> keys(1, of(mail));
    if (keys.first().isMessageId())
        keys.append(fieldHashOf(mail));
    return keys;
}

QByteArray MailKey::text() const
{
    return m_messageId ? m_value.toPercentEncoding() : m_value;
}

std::optional<MailKey> MailKey::fromText(const QByteArray& text)
{
    if (isHash(text))
        return MailKey(false, text);
    const QByteArray id = QByteArray::fromPercentEncoding(text);
    if (!isKeyedMessageId(id) || id.toPercentEncoding() != text)
        return std::nullopt;
    return MailKey(true, id);
}

bool MailKey::matches(const MailRecord& mail) const
{
    return !isNull() && keysOf(mail).contains(*this);
}

} // namespace kadmel
