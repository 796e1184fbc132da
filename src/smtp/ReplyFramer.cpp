#include "smtp/ReplyFramer.h"

namespace kadmel {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

ReplyFramer::ReplyFramer(qsizetype maxReplyBytes, qsizetype maxConversationBytes)
    : m_maxReply(maxReplyBytes), m_maxTotal(maxConversationBytes)
{}

void ReplyFramer::reset()
{
    m_pending.clear();
    m_scanned = 0;
    m_code = -1;
    m_total = 0;
    m_overflowed = false;
}

QList<SmtpReply> ReplyFramer::feed(QByteArrayView bytes)
{
    QList<SmtpReply> replies;
    if (m_overflowed)
        return replies;
    m_total += bytes.size();
    if (m_total > m_maxTotal) {
        m_overflowed = true;
        m_pending.clear();
        return replies;
    }
    m_pending.append(bytes);

    qsizetype replyStart = 0;
    qsizetype lineStart = m_scanned;
    for (qsizetype lf = m_pending.indexOf('\n', lineStart); lf >= 0; lf = m_pending.indexOf('\n', lineStart)) {
        qsizetype lineEnd = lf;
        if (lineEnd > lineStart && m_pending[lineEnd - 1] == '\r')
            --lineEnd;
        const QByteArrayView line(m_pending.constData() + lineStart, lineEnd - lineStart);
        lineStart = lf + 1;

        const bool hasCode = line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]);
        const char after = line.size() > 3 ? line[3] : ' ';
        bool ends = true;
        int lineCode = 0;
        if (hasCode && (after == ' ' || after == '-')) {
            lineCode = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
            ends = after == ' ';
        }
        // The reply is read by the code it starts with; later lines only say where it ends.
        if (m_code == -1)
            m_code = lineCode;
        if (ends) {
            replies.append({m_pending.mid(replyStart, lineStart - replyStart), m_code});
            replyStart = lineStart;
            m_code = -1;
        }
    }
    m_pending.remove(0, replyStart);
    m_scanned = lineStart - replyStart;
    if (m_pending.size() > m_maxReply) {
        m_overflowed = true;
        m_pending.clear();
        m_scanned = 0;
    }
    return replies;
}

} // namespace kadmel
