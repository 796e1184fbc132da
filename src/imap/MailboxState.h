#pragma once

#include <QByteArray>

#include <optional>

namespace kadmel {

// What "kadmel.rueckmeldungen" keeps: which mailbox it speaks of and the last message of its inbox taken. The
// UIDs count only for this server, user and UIDVALIDITY; for any other the inbox is looked at afresh.
struct MailboxState
{
    QByteArray mailbox; // the server's name: another port to it reaches the same mailbox
    QByteArray user;
    quint32 uidValidity = 0;
    quint32 lastUid = 0;

    bool sameMailbox(const MailboxState& other) const
    {
        return mailbox == other.mailbox && user == other.user && uidValidity == other.uidValidity;
    }
};

inline constexpr qint64 MaxMailboxStateBytes = 4096;

QByteArray encodeMailboxState(const MailboxState& state);
// Nothing for a text that is not such a file, or names no mailbox.
std::optional<MailboxState> decodeMailboxState(const QByteArray& bytes);

} // namespace kadmel
