#include "imap/ImapFramer.h"

#include <cstdlib>

using namespace kadmel;

// Any byte stream: no crash, nothing held past the limits, and cutting it into two arrivals gives the same
// responses as one arrival.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    const qsizetype cut = stream.isEmpty() ? 0 : data[0] % (stream.size() + 1);

    ImapFramer whole(64, 256);
    const QList<ImapResponse> once = whole.feed(stream);

    ImapFramer split(64, 256);
    QList<ImapResponse> twice = split.feed(stream.first(cut));
    twice += split.feed(stream.sliced(cut));

    if (whole.overflowed() != split.overflowed())
        std::abort();
    if (whole.overflowed())
        return 0;
    if (once.size() != twice.size())
        std::abort();
    for (qsizetype i = 0; i < once.size(); ++i) {
        qsizetype literals = 0;
        for (const QByteArray& literal : once[i].literals)
            literals += literal.size();
        if (once[i].text != twice[i].text || once[i].literals != twice[i].literals || once[i].text.size() > 256 ||
            literals > 64)
            std::abort();
    }
    return 0;
}
