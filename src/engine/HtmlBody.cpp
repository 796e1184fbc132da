#include "engine/HtmlBody.h"

#include <limits>

namespace kadmel {

namespace {

constexpr char PageHead[] = "<HTML>\r\n"
                            "<HEAD>\r\n"
                            "<META http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">\r\n"
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

bool endsWithBreakTag(const QByteArray& out)
{
    const qsizetype n = out.size();
    return n >= 4 && out[n - 4] == '<' && lower(out[n - 3]) == 'b' && lower(out[n - 2]) == 'r' && out[n - 1] == '>';
}

} // namespace

QByteArray ComposeHtmlBody(const QByteArray& body, const ProgressReport& progress)
{
    const auto report = [&](qint32 value, qint32 maximum, qint16 option) {
        if (progress)
            progress(value, maximum, option);
    };
    const qsizetype n = body.size();
    const auto clamp = [](qsizetype v) { return qint32(qMin<qsizetype>(v, std::numeric_limits<qint32>::max())); };
    report(0, 0, 1);
    report(1, clamp(n), 0);

    QByteArray page;
    page.reserve(qsizetype(sizeof PageHead + sizeof PageTail) + n + n / 4);
    page += PageHead;
    const qsizetype bodyStart = page.size();

    qsizetype nextReport = ProgressStride;
    qsizetype i = 0;
    while (i < n) {
        if (i >= nextReport) {
            report(clamp(i), clamp(n), 0);
            nextReport = i + ProgressStride;
        }
        const char c = body[i];
        if (c == ' ') {
            qsizetype run = 1;
            while (i + run < n && body[i + run] == ' ')
                ++run;
            if (run == 1) {
                // A single space after a line break tag (of any case) is protected; the tag becomes "<BR>".
                if (page.size() - bodyStart >= 4 && endsWithBreakTag(page)) {
                    page.replace(page.size() - 4, 4, "<BR>");
                    page += "&nbsp;";
                } else {
                    page += ' ';
                }
            } else {
                for (qsizetype k = 1; k < run; ++k)
                    page += "&nbsp;";
                page += ' ';
            }
            i += run;
        } else if (c == '\r' && i + 1 < n && body[i + 1] == '\n') {
            page += "<BR>";
            i += 2;
        } else {
            page += c;
            ++i;
        }
    }

    page += PageTail;
    report(1, 1, 0);
    return page;
}

} // namespace kadmel
