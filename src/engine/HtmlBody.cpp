#include "engine/HtmlBody.h"

#include "smtp/Message.h"

#include <cstring>
#include <limits>

namespace kadmel {

namespace {

// The META names the charset the message's Content-Type names, so a reader of the page alone agrees.
constexpr char PageHead[] = "<HTML>\r\n"
                            "<HEAD>\r\n"
                            "<META http-equiv=Content-Type content=\"text/html; charset=";
constexpr char PageHeadEnd[] = "\">\r\n"
                               "</HEAD>\r\n"
                               "<BODY>\r\n"
                               "<FONT size=1>\r\n"
                               "<FONT face=\"Lucida Console\">\r\n";
constexpr char PageTail[] = "\r\n</FONT>\r\n</FONT>\r\n</BODY>\r\n</HTML>";

// Progress is reported once per this many input bytes, so a long body keeps the bar moving
// without a call per character.
constexpr qsizetype ProgressStride = 16 * 1024;

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool isBreakTag(const char* tail)
{
    return tail[0] == '<' && lower(tail[1]) == 'b' && lower(tail[2]) == 'r' && tail[3] == '>';
}

// Builds the page.
class PageSink
{
public:
    explicit PageSink(qsizetype reserve) { m_page.reserve(reserve); }
    void add(const char* text, qsizetype n) { m_page.append(text, n); }
    void add(char c) { m_page.append(c); }
    bool endsWithBreakTag(qsizetype bodyStart) const
    {
        return m_page.size() - bodyStart >= 4 && isBreakTag(m_page.constData() + m_page.size() - 4);
    }
    void replaceBreakTag() { m_page.replace(m_page.size() - 4, 4, "<BR>"); }
    qsizetype size() const { return m_page.size(); }
    QByteArray take() { return std::move(m_page); }

private:
    QByteArray m_page;
};

// Only counts the page's bytes, keeping its last four for the break-tag rule.
class CountingSink
{
public:
    void add(const char* text, qsizetype n)
    {
        for (qsizetype k = qMax<qsizetype>(0, n - 4); k < n; ++k)
            add(text[k]);
        m_size += n - qMin<qsizetype>(n, 4);
    }
    void add(char c)
    {
        std::memmove(m_tail, m_tail + 1, 3);
        m_tail[3] = c;
        ++m_size;
    }
    bool endsWithBreakTag(qsizetype bodyStart) const { return m_size - bodyStart >= 4 && isBreakTag(m_tail); }
    void replaceBreakTag() {}
    qsizetype size() const { return m_size; }

private:
    char m_tail[4] = {};
    qsizetype m_size = 0;
};

template <typename Sink> void composeInto(Sink& page, const QByteArray& body, const ProgressReport& progress)
{
    const auto report = [&](qint32 value, qint32 maximum, qint16 option) {
        if (progress)
            progress(value, maximum, option);
    };
    const qsizetype n = body.size();
    const auto clamp = [](qsizetype v) { return qint32(qMin<qsizetype>(v, std::numeric_limits<qint32>::max())); };
    report(0, 0, 1);
    report(1, clamp(n), 0);

    page.add(PageHead, qsizetype(sizeof PageHead - 1));
    const QByteArray charset = bodyCharset(body);
    page.add(charset.constData(), charset.size());
    page.add(PageHeadEnd, qsizetype(sizeof PageHeadEnd - 1));
    const qsizetype bodyStart = page.size();

    // The next space and CR at or after i (n for none), each searched again only once passed: text
    // between them is copied in one piece.
    const auto next = [&](char c, qsizetype from) {
        const void* found = std::memchr(body.constData() + from, c, size_t(n - from));
        return found ? static_cast<const char*>(found) - body.constData() : n;
    };
    qsizetype nextSpace = -1;
    qsizetype nextCr = -1;
    qsizetype nextReport = ProgressStride;
    qsizetype i = 0;
    while (i < n) {
        if (i >= nextReport) {
            report(clamp(i), clamp(n), 0);
            nextReport = i + ProgressStride;
        }
        if (nextSpace < i)
            nextSpace = next(' ', i);
        if (nextCr < i)
            nextCr = next('\r', i);
        if (const qsizetype plainEnd = qMin(qMin(nextSpace, nextCr), nextReport); plainEnd > i) {
            page.add(body.constData() + i, plainEnd - i);
            i = plainEnd;
            continue;
        }
        const char c = body[i];
        if (c == ' ') {
            qsizetype run = 1;
            while (i + run < n && body[i + run] == ' ')
                ++run;
            if (run == 1) {
                // A single space after a line break tag (of any case) is protected; the tag becomes "<BR>".
                if (page.endsWithBreakTag(bodyStart)) {
                    page.replaceBreakTag();
                    page.add("&nbsp;", 6);
                } else {
                    page.add(' ');
                }
            } else {
                for (qsizetype k = 1; k < run; ++k)
                    page.add("&nbsp;", 6);
                page.add(' ');
            }
            i += run;
        } else if (c == '\r' && i + 1 < n && body[i + 1] == '\n') {
            page.add("<BR>", 4);
            i += 2;
        } else {
            page.add(c);
            ++i;
        }
    }

    page.add(PageTail, qsizetype(sizeof PageTail - 1));
    report(1, 1, 0);
}

} // namespace

QByteArray ComposeHtmlBody(const QByteArray& body, const ProgressReport& progress)
{
    PageSink page(qsizetype(sizeof PageHead + sizeof PageHeadEnd + sizeof PageTail) + 16 + body.size() +
                  body.size() / 4);
    composeInto(page, body, progress);
    return page.take();
}

qsizetype ComposedHtmlSize(const QByteArray& body)
{
    CountingSink page;
    composeInto(page, body, {});
    return page.size();
}

} // namespace kadmel
