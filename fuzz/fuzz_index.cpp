#include "store/IndexFile.h"

#include <cstdlib>

using namespace kadmel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    FolderIndexRecord index;
    QString error;
    if (decodeFolderIndex(bytes, index, &error)) {
        FolderIndexRecord again;
        if (!decodeFolderIndex(encodeFolderIndex(index), again, &error) ||
            encodeFolderIndex(again) != encodeFolderIndex(index))
            std::abort();
    }
    return 0;
}
