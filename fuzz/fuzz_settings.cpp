#include "store/SettingsFile.h"

#include <cstdlib>

using namespace kadmel;

// Any bytes: no crash; what decodes encodes to bytes that decode to the same settings.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Settings settings;
    QString error;
    if (decodeSettings(bytes, settings, &error)) {
        Settings again;
        if (!decodeSettings(encodeSettings(settings), again, &error) || !(again == settings))
            std::abort();
    }
    Settings old;
    decodeOldSettings(bytes, old, &error);
    return 0;
}
