#include "smtp/MessageSize.h"

namespace kadmel {
namespace {

// "31,2 MB" (1 MB = 1,000,000 bytes, as servers state their limits); below 1 MB in KB. A message is rounded
// up and a limit down, so that a message one byte too big never reads as the limit.
QByteArray sizeText(qint64 bytes, bool roundUp)
{
    const bool mb = bytes >= 1000000;
    const qint64 tenth = mb ? 100000 : 100;
    const qint64 tenths = roundUp ? (bytes + tenth - 1) / tenth : bytes / tenth;
    return QByteArray::number(tenths / 10) + ',' + QByteArray::number(tenths % 10) + (mb ? " MB" : " KB");
}

QByteArray mailIs(qint64 size)
{
    return "Die E-Mail ist " + sizeText(size, true) + " gro\xDF, ";
}

} // namespace

qint64 messageSize(const QByteArray& composed)
{
    return composed.size() - (composed.endsWith("\r\n.\r\n") ? 3 : 0);
}

QByteArray tooLargeForServer(qint64 size, qint64 limit)
{
    return mailIs(size) +
           "der Server nimmt h\xF6"
           "chstens " +
           sizeText(limit, false) + " an.";
}

QByteArray tooLargeForSettings(qint64 size, qint64 limit)
{
    return mailIs(size) +
           "MaximaleGroesseMB in kadmel.ini erlaubt h\xF6"
           "chstens " +
           sizeText(limit, false) + '.';
}

} // namespace kadmel
