#ifndef NIMBORA_APP_CONNECTIONMESSAGE_H
#define NIMBORA_APP_CONNECTIONMESSAGE_H

#include <QByteArray>
#include <QString>

// What an instance sends the primary when it connects to it: the body length (64 bits), then the block
// server name, the connection type, the instance number and a checksum of those three. Bytes only, no socket.
class ConnectionMessage
{
public:
    static constexpr int HeaderSize = 8;
    // A body is a name of about 44 bytes and 7 bytes of fields; anything much longer is not ours and must not
    // make the primary buffer it.
    static constexpr quint64 MaximumBodySize = 4096;

    static QByteArray make(const QString &blockServerName, quint8 type, quint32 instanceNumber);
    // The body length a header announces; 0 when the header is short or the length out of bounds.
    static qint64 bodyLength(const QByteArray &header);
    // False unless the body is whole, its checksum holds and it names this block server. Bytes past the
    // checksum are left alone.
    static bool readBody(const QByteArray &body, const QByteArray &blockServerName, quint8 *type, quint32 *instance);
};

#endif
