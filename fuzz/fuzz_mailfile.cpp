#include "store/MailFile.h"

#include <cstdlib>

using namespace kadmel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    MailRecord record;
    QString error;
    qsizetype consumed = 0;
    if (decodeMailRecord(bytes, record, &error, &consumed)) {
        if (consumed > bytes.size())
            std::abort();
        MailRecord again;
        if (!decodeMailRecord(encodeMailRecord(record), again, &error) || !(again == record))
            std::abort();
    }
    return 0;
}
