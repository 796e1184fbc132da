#include "imap/ImapFramer.h"

#include <cstring>
#include <optional>
#include <utility>

namespace kadmel {
namespace {

// The size a line's closing "{n}" (or "{n+}") announces.
std::optional<qsizetype> announcedLiteral(const QByteArray& line)
{
    if (!line.endsWith('}'))
        return std::nullopt;
    const qsizetype open = line.lastIndexOf('{');
    QByteArray digits = line.mid(open + 1, line.size() - open - 2);
    if (digits.endsWith('+'))
        digits.chop(1);
    if (open < 0 || digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    return digits.toLongLong();
}

} // namespace

ImapFramer::ImapFramer(qsizetype maxLiteralBytes, qsizetype maxTextBytes)
    : m_maxLiteral(maxLiteralBytes), m_maxText(maxTextBytes)
{}

void ImapFramer::reset()
{
    m_current = {};
    m_line.clear();
    m_literalLeft = m_literalTotal = 0;
    m_overflowed = false;
}

QList<ImapResponse> ImapFramer::feed(QByteArrayView bytes)
{
    QList<ImapResponse> done;
    qsizetype at = 0;
    while (!m_overflowed && at < bytes.size()) {
        if (m_literalLeft > 0) {
            const qsizetype take = qMin(m_literalLeft, bytes.size() - at);
            m_current.literals.last().append(bytes.data() + at, take);
            m_literalLeft -= take;
            at += take;
            continue;
        }
        const auto* lf = static_cast<const char*>(std::memchr(bytes.data() + at, '\n', size_t(bytes.size() - at)));
        const qsizetype end = lf ? lf - bytes.data() : bytes.size();
        m_line.append(bytes.data() + at, end - at);
        at = lf ? end + 1 : end;
        if (m_current.text.size() + m_line.size() > m_maxText) {
            m_overflowed = true;
            break;
        }
        if (!lf)
            break;
        if (m_line.endsWith('\r'))
            m_line.chop(1);
        const std::optional<qsizetype> literal = announcedLiteral(m_line);
        m_current.text += std::exchange(m_line, {});
        if (!literal) {
            done.append(std::exchange(m_current, {}));
            m_literalTotal = 0;
            continue;
        }
        if (*literal > m_maxLiteral - m_literalTotal) {
            m_overflowed = true;
            break;
        }
        m_literalTotal += *literal;
        m_literalLeft = *literal;
        m_current.literals.append(QByteArray());
        m_current.literals.last().reserve(*literal);
    }
    return done;
}

} // namespace kadmel
