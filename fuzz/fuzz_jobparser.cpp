#include "engine/JobParser.h"

#include <cstdlib>

using namespace kadmel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ParsedJob job = parseJobText(text);
    if (job.outcome == ParsedJob::Outcome::Ok) {
        // Each field is cut out of the text (fields may overlap, markers being searched independently);
        // the body is always the text's tail.
        for (const QByteArray* field : {&job.fields.sender, &job.fields.recipient, &job.fields.subject}) {
            if (!text.contains(*field))
                std::abort();
        }
        if (!text.endsWith(job.fields.body))
            std::abort();
    }
    return 0;
}
