#pragma once

#include "store/MailRecord.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QList>

#include <optional>

namespace kadmel {

// Which mail an ID stands for, as the files that outlive a renumbering keep it (kadmel.retry, kadmel.jobs): the
// Message-ID of its record's Reserved or, for a mail without one (from an older version, edited since), a hash of
// its addresses, subject, the date of its last attempt and body size, which an edit or an attempt changes.
class MailKey
{
public:
    MailKey() = default; // none: a file named no mail
    static MailKey of(const MailRecord& mail);
    // The hash alone, as kadmel.retry held it for every mail before it kept Message-IDs.
    static MailKey fieldHashOf(const MailRecord& mail);
    // The keys the mail may have been filed under: of(mail), and for a mail with a Message-ID its hash too.
    static QList<MailKey> keysOf(const MailRecord& mail);

    // As the files hold it: 16 hex digits for a hash, the Message-ID "<…>" with every byte but the unreserved ones
    // as "%xx" ("%3C…%3E": no blank or line end, never 16 hex digits). Nothing for a text text() never gives.
    QByteArray text() const;
    static std::optional<MailKey> fromText(const QByteArray& text);

    bool isNull() const { return m_value.isEmpty(); }
    bool isMessageId() const { return m_messageId; }
    // The mail it was taken from, by its Message-ID or by the hash an older file holds.
    bool matches(const MailRecord& mail) const;

    friend bool operator==(const MailKey&, const MailKey&) = default;
    friend size_t qHash(const MailKey& key, size_t seed = 0) { return qHashMulti(seed, key.m_messageId, key.m_value); }

private:
    MailKey(bool messageId, const QByteArray& value) : m_messageId(messageId), m_value(value) {}
    bool m_messageId = false;
    QByteArray m_value; // the Message-ID, or the hash's hex digits
};

// The longest Message-ID a key holds, the longest a mail goes out with; a longer one is keyed by the hash.
inline constexpr qsizetype MaxKeyedMessageId = 250;

} // namespace kadmel
