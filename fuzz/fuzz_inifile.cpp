#include "store/KadmelIni.h"
#include "store/RetrySetting.h"

#include <cstdlib>

using namespace kadmel;

// Any bytes: no crash; a part that is unset says why; and a write of what was read changes nothing of it.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const KadmelIni ini = readKadmelIni(bytes);
    if ((!ini.encryption && ini.encryptionProblem.isEmpty()) || (!ini.signIn && ini.signInProblem.isEmpty()))
        std::abort();
    QList<IniChange> changes;
    if (ini.encryption)
        changes.append(encryptionIniChange(*ini.encryption));
    if (ini.signIn)
        changes += authIniChanges(*ini.signIn);
    changes.append(retryIniChange(ini.retry));
    changes += placementIniChanges(ini.placement);
    QString error;
    // As KadmelIniFile writes: the encryption replaces its look-alikes; without it they stay.
    const std::optional<QByteArray> written = ini.encryption
                                                  ? editIniText(bytes, changes, &error, looksLikeEncryption)
                                                  : editIniText(bytes, changes, &error, {}, looksLikeEncryption);
    if (!written)
        return 0; // too large, or a value with a line break
    const KadmelIni again = readKadmelIni(*written);
    if (again.encryption != ini.encryption || again.retry != ini.retry || !(again.placement == ini.placement) ||
        (ini.signIn && again.signIn != ini.signIn))
        std::abort();
    return 0;
}
