#include "store/SettingsFile.h"

#include "store/CryptString.h"
#include "store/StoreCodec.h"

namespace kadmel {
namespace {

constexpr qint16 Scramble = 1;
constexpr qint16 Unscramble = 2;

bool finish(const ByteReader& in, QString* error)
{
    if (!in.ok() && error)
        *error = in.error();
    return in.ok();
}

} // namespace

QByteArray encodeSettingsRecord(const Settings& storedForm)
{
    ByteWriter out;
    out.writeString(storedForm.WatchFolder);
    out.writeString(storedForm.SmtpServer);
    out.writeInt16(storedForm.SmtpPort);
    out.writeString(storedForm.SmtpUser);
    out.writeString(storedForm.SmtpPassword);
    out.writeInt16(storedForm.UseSpa);
    out.writeInt16(storedForm.AutoStart);
    return out.bytes();
}

QByteArray encodeSettings(const Settings& settings)
{
    Settings stored = settings;
    for (QByteArray* text : {&stored.WatchFolder, &stored.SmtpServer, &stored.SmtpUser, &stored.SmtpPassword})
        *text = CryptString(*text, Scramble);
    return encodeSettingsRecord(stored);
}

bool decodeSettings(QByteArrayView bytes, Settings& settings, QString* error)
{
    ByteReader in(bytes);
    Settings read;
    in.readString(read.WatchFolder);
    in.readString(read.SmtpServer);
    in.readInt16(read.SmtpPort);
    in.readString(read.SmtpUser);
    in.readString(read.SmtpPassword);
    in.readInt16(read.UseSpa);
    in.readInt16(read.AutoStart);
    if (!finish(in, error))
        return false;
    for (QByteArray* text : {&read.WatchFolder, &read.SmtpServer, &read.SmtpUser, &read.SmtpPassword})
        *text = CryptString(*text, Unscramble);
    settings = read;
    return true;
}

bool decodeOldSettings(QByteArrayView bytes, Settings& settings, QString* error)
{
    ByteReader in(bytes);
    Settings read;
    for (QByteArray* text : {&read.WatchFolder, &read.SmtpServer, &read.SmtpUser, &read.SmtpPassword})
        in.readString(*text);
    if (!finish(in, error))
        return false;
    settings = read;
    return true;
}

} // namespace kadmel
