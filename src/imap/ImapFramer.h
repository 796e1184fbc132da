#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace kadmel {

// One complete IMAP response: its text with the line ends taken off and every literal's announcement "{n}" kept
// where it stood, and the literals' bytes in order.
struct ImapResponse
{
    QByteArray text;
    QList<QByteArray> literals;
};

// Cuts the server's byte stream into complete responses. A line ending in "{n}" announces n bytes of literal,
// after which the response goes on. A response's text longer than maxTextBytes, or its literals together
// longer than maxLiteralBytes, is an overflow: nothing is returned after it, so a server cannot make the
// client hold more than those two limits.
class ImapFramer
{
public:
    static constexpr qsizetype MaxTextBytes = 256 * 1024;

    explicit ImapFramer(qsizetype maxLiteralBytes, qsizetype maxTextBytes = MaxTextBytes);

    // Appends the bytes and returns every response they complete, in order.
    QList<ImapResponse> feed(QByteArrayView bytes);
    bool overflowed() const { return m_overflowed; }
    void reset();

private:
    qsizetype m_maxLiteral;
    qsizetype m_maxText;
    ImapResponse m_current;
    QByteArray m_line;           // the line being read, without its end
    qsizetype m_literalLeft = 0; // bytes of the current literal still to come
    qsizetype m_literalTotal = 0;
    bool m_overflowed = false;
};

} // namespace kadmel
