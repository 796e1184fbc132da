#include "engine/OAuthTokenSource.h"

#include <cstdlib>

using namespace kadmel;

// Any answer of a token address, with any status: no crash; a token only from a 200 answer without "error",
// fit for the SMTP command line; otherwise a reason of one line that fits the status bar.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    constexpr int Statuses[] = {200, 0, 302, 400, 401, 500};
    const int status = Statuses[data[0] % 6];
    const QByteArray body(reinterpret_cast<const char*>(data) + 1, static_cast<qsizetype>(size - 1));
    const TokenAnswer answer = readTokenAnswer(body, status, data[0] & 0x80, QStringLiteral("Verbindung abgelehnt"));
    if (!answer.accessToken.isEmpty()) {
        if (status != 200 || !answer.reason.isEmpty())
            std::abort();
        for (const char c : answer.accessToken)
            if (c < 0x21 || c > 0x7e)
                std::abort();
    }
    if (answer.reason.size() > 300)
        std::abort();
    for (const char c : answer.reason)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            std::abort();
    return 0;
}
