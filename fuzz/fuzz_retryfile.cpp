#include "store/MailRecord.h"
#include "store/PaceFile.h"
#include "store/RetryFile.h"

#include <QSet>

#include <algorithm>
#include <cstdlib>

using namespace kadmel;

// Any bytes: no crash; what is read is a schedule (or the pace file's window) the program could have written, and
// written again it reads back the same.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const std::optional<PaceFileContent> pace = decodePaceFile(bytes);
        pace &&
        (decodePaceFile(encodePaceFile(*pace)) != pace || !std::is_sorted(pace->times.cbegin(), pace->times.cend())))
        std::abort();
    const std::optional<RetryFileContent> content = decodeRetryFile(bytes);
    if (!content)
        return 0;
    QSet<qint16> ids;
    for (const RetryFileEntry& entry : content->entries) {
        if (entry.id < 1 || entry.id > MaxMails || ids.contains(entry.id) || entry.failures < 1 || entry.key.isNull())
            std::abort();
        ids.insert(entry.id);
    }
    if (decodeRetryFile(encodeRetryFile(*content)) != content)
        std::abort();
    return 0;
}
