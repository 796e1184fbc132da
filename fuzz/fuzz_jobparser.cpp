#include "engine/JobParser.h"

#include <cstdlib>

using namespace kadmel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ParsedJob job = parseJobText(text);
    if (job.outcome == ParsedJob::Outcome::Ok) {
        const qsizetype total = job.fields.sender.size() + job.fields.recipient.size() + job.fields.subject.size() +
                                job.fields.body.size();
        if (total > text.size())
            std::abort(); // the fields are cut out of the text, never more than it
        if (!text.endsWith(job.fields.body))
            std::abort();
    }
    return 0;
}
