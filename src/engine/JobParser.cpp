#include "engine/JobParser.h"

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
    job.outcome = ParsedJob::Outcome::Ok;
    return job;
}

} // namespace kadmel
