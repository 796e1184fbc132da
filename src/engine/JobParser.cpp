#include "engine/JobParser.h"

#include "store/MailRecord.h"

#include <array>

namespace kadmel {

ParsedJob parseJobText(const QByteArray& text)
{
    static const std::array<QByteArray, 3> Markers = {QByteArrayLiteral("@@FR"), QByteArrayLiteral("@@TO"),
                                                      QByteArrayLiteral("@@SB")};
    ParsedJob job;
    std::array<QByteArray, 3> values;
    qsizetype next = -1; // 0-based offset of the "@@" that closes the last value
    for (std::size_t i = 0; i < Markers.size(); ++i) {
        const qsizetype pos = text.indexOf(Markers[i]);
        if (pos < 0) {
            job.outcome = ParsedJob::Outcome::MissingMarker;
            return job;
        }
        next = text.indexOf("@@", pos + 2);
        const qsizetype length = next - pos - 5;
        if (next < 0 || length < 0)
            return job; // Malformed
        values[i] = text.mid(pos + 5, length);
    }
    const qsizetype bodyLength = text.size() - next - 6;
    if (bodyLength < 0)
        return job;
    job.fields = {values[0], values[1], values[2], text.mid(next + 6, bodyLength)};
    const qsizetype subject = text.indexOf(Markers[2]);
    const auto found = [&text, subject](const char* marker) {
        QList<QByteArray> all;
        for (qsizetype pos = text.indexOf(marker); pos >= 0 && pos < subject; pos = text.indexOf(marker, pos + 4)) {
            const qsizetype end = text.indexOf("@@", pos + 2); // at the latest the subject's marker
            all.append(fieldValue(text.mid(pos + 5, qMax<qsizetype>(0, end - pos - 5))));
        }
        return all;
    };
    const auto optional = [&found](const char* marker) {
        QByteArray joined;
        for (const QByteArray& value : found(marker))
            joined += (joined.isEmpty() ? "" : ",") + value;
        return joined;
    };
    job.fields.copyTo = optional("@@CC");
    job.fields.blindCopyTo = optional("@@BC");
    job.fields.replyTo = optional("@@RT");
    job.fields.attachments = found("@@AN");
    job.outcome = ParsedJob::Outcome::Ok;
    return job;
}

} // namespace kadmel
