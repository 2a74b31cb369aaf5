// What another local program writes to the primary instance's socket, as the primary reads it: a bounded body,
// no read past the end, and a message accepted only when it is one we could have made.
#include "app/connectionmessage.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

const QByteArray BlockServerName = QByteArrayLiteral("nimbora-fuzz");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    const qint64 length = ConnectionMessage::bodyLength(bytes);
    check(length >= 0 && quint64(length) <= ConnectionMessage::MaximumBodySize);
    if (length > 0 && bytes.size() >= ConnectionMessage::HeaderSize + length) {
        const QByteArray body = bytes.mid(ConnectionMessage::HeaderSize, int(length));
        quint8 type = 0;
        quint32 instance = 0;
        if (ConnectionMessage::readBody(body, BlockServerName, &type, &instance)) {
            // Accepted: the same fields, made again, are what was read, but for what follows the checksum.
            const QByteArray made = ConnectionMessage::make(QString::fromLatin1(BlockServerName), type, instance);
            check(body.startsWith(made.mid(ConnectionMessage::HeaderSize)));
        }
    }

    // Any name and fields make a message that reads back as them.
    if (size >= 5) {
        const quint8 type = data[0];
        const quint32 instance = quint32(data[1]) << 24 | quint32(data[2]) << 16 | quint32(data[3]) << 8 | data[4];
        const QByteArray name = bytes.mid(5, 200);
        const QByteArray message
            = ConnectionMessage::make(QString::fromLatin1(name.constData(), name.size()), type, instance);
        check(ConnectionMessage::bodyLength(message) == message.size() - ConnectionMessage::HeaderSize);
        quint8 readType = 0;
        quint32 readInstance = 0;
        check(ConnectionMessage::readBody(message.mid(ConnectionMessage::HeaderSize), name, &readType, &readInstance));
        check(readType == type && readInstance == instance);
    }
    return 0;
}
