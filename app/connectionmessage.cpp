#include "app/connectionmessage.h"

#include <QDataStream>

QByteArray ConnectionMessage::make(const QString &blockServerName, quint8 type, quint32 instanceNumber)
{
    QByteArray body;
    QDataStream bodyStream(&body, QIODevice::WriteOnly);
    bodyStream.setVersion(QDataStream::Qt_5_6);
    bodyStream << blockServerName.toLatin1() << type << instanceNumber;
    const quint16 checksum = qChecksum(body.constData(), uint(body.size()));
    bodyStream << checksum;

    QByteArray message;
    QDataStream headerStream(&message, QIODevice::WriteOnly);
    headerStream.setVersion(QDataStream::Qt_5_6);
    headerStream << quint64(body.size());
    return message + body;
}

qint64 ConnectionMessage::bodyLength(const QByteArray &header)
{
    if (header.size() < HeaderSize)
        return 0;
    QDataStream headerStream(header.left(HeaderSize));
    headerStream.setVersion(QDataStream::Qt_5_6);
    quint64 length = 0;
    headerStream >> length;
    if (length < 2 || length > MaximumBodySize)
        return 0;
    return qint64(length);
}

bool ConnectionMessage::readBody(
    const QByteArray &body, const QByteArray &blockServerName, quint8 *type, quint32 *instance)
{
    QDataStream bodyStream(body);
    bodyStream.setVersion(QDataStream::Qt_5_6);
    QByteArray name;
    quint8 connectionType = 0;
    quint32 sender = 0;
    bodyStream >> name >> connectionType >> sender;
    const qint64 checkedLength = bodyStream.device()->pos();
    quint16 checksum = 0;
    bodyStream >> checksum;
    if (bodyStream.status() != QDataStream::Ok)
        return false;
    if (name != blockServerName)
        return false;
    if (checksum != qChecksum(body.constData(), uint(checkedLength)))
        return false;
    *type = connectionType;
    *instance = sender;
    return true;
}
