#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace kadmel {

// The packed little-endian layouts every store file is made of: Integer (2 bytes), String (2-byte
// length, or FF FF and a 4-byte length for 65535 bytes and more), and one-dimensional dynamic arrays
// (00 00 when never dimensioned, else 01 00, 4-byte element count, 4-byte lower bound 0, elements).
class ByteWriter
{
public:
    void writeInt16(qint16 value);
    void writeString(const QByteArray& text);
    void writeInt16Array(const QList<qint16>& array);      // empty list = never dimensioned
    void writeStringArray(const QList<QByteArray>& array); // empty list = never dimensioned

    const QByteArray& bytes() const { return m_bytes; }

private:
    void writeUInt32(quint32 value);
    void writeDescriptor(qsizetype elements);

    QByteArray m_bytes;
};

// Reads the same layouts from a byte range. Every length and count is checked against the bytes that
// are left, so a truncated or foreign file ends in an error, never in a huge allocation.
// After the first failure every further read fails too; error() tells the first reason (German).
class ByteReader
{
public:
    explicit ByteReader(QByteArrayView bytes) : m_bytes(bytes) {}

    bool readInt16(qint16& value);
    bool readString(QByteArray& text);
    bool readInt16Array(QList<qint16>& array);
    // maxElements bounds the list's bookkeeping, which outgrows the file for arrays of empty strings.
    bool readStringArray(QList<QByteArray>& array, qsizetype maxElements);

    qsizetype position() const { return m_pos; }
    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }

private:
    bool need(qsizetype size);
    bool readUInt32(quint32& value);
    // Element count of the next array, or -1 for an array never dimensioned.
    bool readDescriptor(qsizetype& elements, qsizetype minElementSize, qsizetype maxElements);
    bool fail(const QString& reason);

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    QString m_error;
};

} // namespace kadmel
