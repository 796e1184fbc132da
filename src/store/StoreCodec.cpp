#include "store/StoreCodec.h"

#include <QtEndian>

namespace kadmel {
namespace {

constexpr quint16 LongStringMark = 0xFFFF;

} // namespace

void ByteWriter::writeInt16(qint16 value)
{
    char raw[2];
    qToLittleEndian(value, raw);
    m_bytes.append(raw, 2);
}

void ByteWriter::writeUInt32(quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    m_bytes.append(raw, 4);
}

void ByteWriter::writeString(const QByteArray& text)
{
    if (text.size() >= LongStringMark) {
        writeInt16(static_cast<qint16>(LongStringMark));
        writeUInt32(static_cast<quint32>(text.size()));
    } else {
        writeInt16(static_cast<qint16>(text.size()));
    }
    m_bytes.append(text);
}

void ByteWriter::writeDescriptor(qsizetype elements)
{
    writeInt16(1);
    writeUInt32(static_cast<quint32>(elements));
    writeUInt32(0);
}

void ByteWriter::writeInt16Array(const QList<qint16>& array)
{
    if (array.isEmpty()) {
        writeInt16(0);
        return;
    }
    writeDescriptor(array.size());
    for (const qint16 value : array)
        writeInt16(value);
}

void ByteWriter::writeStringArray(const QList<QByteArray>& array)
{
    if (array.isEmpty()) {
        writeInt16(0);
        return;
    }
    writeDescriptor(array.size());
    for (const QByteArray& text : array)
        writeString(text);
}

bool ByteReader::fail(const QString& reason)
{
    if (m_error.isEmpty())
        m_error = reason;
    return false;
}

bool ByteReader::need(qsizetype size)
{
    if (!ok())
        return false;
    if (size < 0 || size > m_bytes.size() - m_pos)
        return fail(QStringLiteral("Die Datei endet zu früh (bei Byte %1).").arg(m_bytes.size()));
    return true;
}

bool ByteReader::readInt16(qint16& value)
{
    if (!need(2))
        return false;
    value = qFromLittleEndian<qint16>(m_bytes.data() + m_pos);
    m_pos += 2;
    return true;
}

bool ByteReader::readUInt32(quint32& value)
{
    if (!need(4))
        return false;
    value = qFromLittleEndian<quint32>(m_bytes.data() + m_pos);
    m_pos += 4;
    return true;
}

bool ByteReader::readString(QByteArray& text)
{
    qint16 shortLength = 0;
    if (!readInt16(shortLength))
        return false;
    qsizetype length = static_cast<quint16>(shortLength);
    if (length == LongStringMark) {
        quint32 longLength = 0;
        if (!readUInt32(longLength))
            return false;
        length = static_cast<qsizetype>(longLength);
    }
    if (!need(length))
        return false;
    text = m_bytes.sliced(m_pos, length).toByteArray();
    m_pos += length;
    return true;
}

bool ByteReader::readDescriptor(qsizetype& elements, qsizetype minElementSize, qsizetype maxElements)
{
    qint16 dimensions = 0;
    if (!readInt16(dimensions))
        return false;
    if (dimensions == 0) {
        elements = -1;
        return true;
    }
    if (dimensions != 1)
        return fail(
            QStringLiteral("Ungültige Feldbeschreibung (%1 Dimensionen) bei Byte %2.").arg(dimensions).arg(m_pos - 2));
    quint32 count = 0;
    quint32 lowerBound = 0;
    if (!readUInt32(count) || !readUInt32(lowerBound))
        return false;
    if (lowerBound != 0)
        return fail(QStringLiteral("Ungültige Untergrenze eines Feldes bei Byte %1.").arg(m_pos - 4));
    if (count > static_cast<quint64>(maxElements) ||
        static_cast<qint64>(count) * minElementSize > m_bytes.size() - m_pos)
        return fail(QStringLiteral("Ungültige Elementzahl %1 bei Byte %2.").arg(count).arg(m_pos - 8));
    elements = static_cast<qsizetype>(count);
    return true;
}

bool ByteReader::readInt16Array(QList<qint16>& array)
{
    qsizetype elements = 0;
    if (!readDescriptor(elements, 2, m_bytes.size()))
        return false;
    array.clear();
    if (elements < 0)
        return true;
    array.reserve(elements);
    for (qsizetype i = 0; i < elements; ++i) {
        qint16 value = 0;
        readInt16(value);
        array.append(value);
    }
    return ok();
}

bool ByteReader::readStringArray(QList<QByteArray>& array, qsizetype maxElements)
{
    qsizetype elements = 0;
    if (!readDescriptor(elements, 2, maxElements))
        return false;
    array.clear();
    if (elements < 0)
        return true;
    array.reserve(elements);
    for (qsizetype i = 0; i < elements && ok(); ++i) {
        QByteArray text;
        if (readString(text))
            array.append(text);
    }
    return ok();
}

} // namespace kadmel
