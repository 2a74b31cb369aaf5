#include "tunnels/socksparser.h"

namespace {

quint16 readPort(const QByteArray &buffer, int offset)
{
    return quint16((quint8(buffer.at(offset)) << 8) | quint8(buffer.at(offset + 1)));
}

quint32 readIPv4(const QByteArray &buffer, int offset)
{
    return (quint32(quint8(buffer.at(offset))) << 24) | (quint32(quint8(buffer.at(offset + 1))) << 16)
        | (quint32(quint8(buffer.at(offset + 2))) << 8) | quint32(quint8(buffer.at(offset + 3)));
}

// Index of the NUL that ends the field starting at offset, -1 while it has not arrived, -2 when the
// field is already longer than allowed.
int fieldEnd(const QByteArray &buffer, int offset)
{
    const int end = buffer.indexOf('\0', offset);
    if (end >= 0)
        return end - offset > SocksParser::MaxSocks4FieldLength ? -2 : end;
    return buffer.size() - offset > SocksParser::MaxSocks4FieldLength ? -2 : -1;
}

} // namespace

SocksParser::Result SocksParser::parseSocks4Request(const QByteArray &buffer, Request *request)
{
    if (buffer.size() >= 2)
        request->command = quint8(buffer.at(1));
    if (buffer.size() < 8)
        return Incomplete;
    request->port = readPort(buffer, 2);
    const quint32 ip = readIPv4(buffer, 4);
    const int userIdEnd = fieldEnd(buffer, 8);
    if (userIdEnd == -2)
        return Malformed;
    if (userIdEnd == -1)
        return Incomplete;

    // 0.0.0.x with x non-zero announces SOCKS 4a: a host name follows the user id.
    if (ip != 0 && ip <= 0xff) {
        const int nameEnd = fieldEnd(buffer, userIdEnd + 1);
        if (nameEnd == -2)
            return Malformed;
        if (nameEnd == -1)
            return Incomplete;
        request->addressType = DomainName;
        request->hostName = buffer.mid(userIdEnd + 1, nameEnd - userIdEnd - 1);
        request->length = nameEnd + 1;
        return Complete;
    }
    request->addressType = IPv4Address;
    request->address = QHostAddress(ip);
    request->length = userIdEnd + 1;
    return Complete;
}

SocksParser::Result SocksParser::parseSocks5Greeting(const QByteArray &buffer, QByteArray *methods, int *length)
{
    if (buffer.size() < 2)
        return Incomplete;
    const int count = quint8(buffer.at(1));
    if (buffer.size() < 2 + count)
        return Incomplete;
    *methods = buffer.mid(2, count);
    *length = 2 + count;
    return Complete;
}

SocksParser::Result SocksParser::parseSocks5Request(const QByteArray &buffer, Request *request)
{
    if (buffer.size() >= 2)
        request->command = quint8(buffer.at(1));
    return parseSocks5Address(buffer, request);
}

bool SocksParser::parseDatagramHeader(const QByteArray &datagram, Request *header)
{
    if (datagram.size() < 3)
        return false;
    header->command = quint8(datagram.at(2));
    if (parseSocks5Address(datagram, header) != Complete)
        return false;
    return header->addressType == IPv4Address || header->addressType == DomainName;
}

QByteArray SocksParser::datagramHeader(const QHostAddress &address, quint16 port)
{
    const quint32 ip = address.protocol() == QAbstractSocket::IPv4Protocol ? address.toIPv4Address() : 0;
    const char header[] = { 0, 0, 0, char(IPv4Address), char(ip >> 24), char((ip >> 16) & 0xff), char((ip >> 8) & 0xff),
        char(ip & 0xff), char(port >> 8), char(port & 0xff) };
    return QByteArray(header, int(sizeof header));
}

// The address part is laid out alike in requests and datagrams: type at byte 3, then the address and the port.
SocksParser::Result SocksParser::parseSocks5Address(const QByteArray &buffer, Request *request)
{
    if (buffer.size() < 4)
        return Incomplete;
    request->addressType = quint8(buffer.at(3));
    switch (request->addressType) {
    case IPv4Address:
        if (buffer.size() < 10)
            return Incomplete;
        request->address = QHostAddress(readIPv4(buffer, 4));
        request->port = readPort(buffer, 8);
        request->length = 10;
        return Complete;
    case DomainName: {
        if (buffer.size() < 5)
            return Incomplete;
        const int nameLength = quint8(buffer.at(4));
        if (buffer.size() < 5 + nameLength + 2)
            return Incomplete;
        request->hostName = buffer.mid(5, nameLength);
        request->port = readPort(buffer, 5 + nameLength);
        request->length = 5 + nameLength + 2;
        return Complete;
    }
    case IPv6Address: {
        if (buffer.size() < 22)
            return Incomplete;
        Q_IPV6ADDR ip;
        for (int i = 0; i < 16; ++i)
            ip[i] = quint8(buffer.at(4 + i));
        request->address = QHostAddress(ip);
        request->port = readPort(buffer, 20);
        request->length = 22;
        return Complete;
    }
    default:
        return Malformed;
    }
}
