#include "smtp/ReplyFramer.h"

#include <cstdlib>

using namespace kadmel;

// Any byte stream: no crash, and cutting it into two arrivals gives the same replies as one arrival.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    const qsizetype cut = stream.isEmpty() ? 0 : data[0] % (stream.size() + 1);

    ReplyFramer whole(256, 4096);
    const QList<SmtpReply> once = whole.feed(stream);

    ReplyFramer split(256, 4096);
    QList<SmtpReply> twice = split.feed(stream.first(cut));
    twice += split.feed(stream.sliced(cut));

    if (whole.overflowed() != split.overflowed())
        std::abort();
    // Past the limit the session fails whatever came before it in the same arrival.
    if (whole.overflowed())
        return 0;
    if (once.size() != twice.size())
        std::abort();
    for (qsizetype i = 0; i < once.size(); ++i) {
        if (once[i].text != twice[i].text || once[i].code != twice[i].code)
            std::abort();
    }
    return 0;
}
