#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace kadmel {

// One complete server reply: its bytes as received (line ends included) and its code.
struct SmtpReply
{
    QByteArray text;
    int code = 0; // the code of its first line; 0 when that line is no reply line
};

// Cuts the byte stream of a conversation into complete replies. A reply ends with a line whose
// three-digit code is followed by a space or by nothing; "ddd-" lines continue it. Lines end with
// CR LF or a bare LF. Anything else on a line is a reply of its own, with code 0.
class ReplyFramer
{
public:
    static constexpr qsizetype MaxReplyBytes = 64 * 1024;
    static constexpr qsizetype MaxConversationBytes = 1024 * 1024;

    explicit ReplyFramer(qsizetype maxReplyBytes = MaxReplyBytes,
                         qsizetype maxConversationBytes = MaxConversationBytes);

    // Appends the bytes and returns every reply they complete, in order. After an overflow
    // nothing more is returned.
    QList<SmtpReply> feed(QByteArrayView bytes);

    // A reply grew past its limit without ending, or the conversation past its total.
    bool overflowed() const { return m_overflowed; }
    void reset();

private:
    qsizetype m_maxReply;
    qsizetype m_maxTotal;
    QByteArray m_pending;    // the unfinished reply, its last line possibly incomplete
    qsizetype m_scanned = 0; // bytes of m_pending already cut into whole lines
    int m_code = -1;         // code of the reply being collected, -1 before its first line
    qsizetype m_total = 0;
    bool m_overflowed = false;
};

} // namespace kadmel
