#ifndef NIMBORA_TUNNELS_SOCKSPARSER_H
#define NIMBORA_TUNNELS_SOCKSPARSER_H

#include <QByteArray>
#include <QHostAddress>

// Reads SOCKS messages out of whatever bytes have arrived so far. Nothing here touches the network:
// every function only looks at the bytes it is given and never past their end.
class SocksParser
{
public:
    enum Result {
        Incomplete, // more bytes are needed
        Complete, // the message is whole; its length says how many bytes it takes
        Malformed // the bytes can never form a valid message
    };

    enum AddressType { IPv4Address = 1, DomainName = 3, IPv6Address = 4 };

    // A SOCKS 4 or 5 request, or the header of a SOCKS 5 UDP datagram.
    struct Request
    {
        quint8 command = 0; // SOCKS 5 datagrams: the fragment number
        quint8 addressType = 0;
        QHostAddress address; // set for IPv4 (and IPv6) addresses
        QByteArray hostName; // set for names (SOCKS 4a and SOCKS 5 type 3)
        quint16 port = 0;
        int length = 0; // bytes the message takes; for a datagram, where the payload starts
    };

    // Longest user id or SOCKS 4a host name accepted before its terminating NUL.
    static constexpr int MaxSocks4FieldLength = 255;

    // VN CD DSTPORT DSTIP USERID NUL [HOSTNAME NUL]. Malformed when a field outgrows its limit.
    static Result parseSocks4Request(const QByteArray &buffer, Request *request);
    // VER NMETHODS METHODS. Never malformed.
    static Result parseSocks5Greeting(const QByteArray &buffer, QByteArray *methods, int *length);
    // VER CMD RSV ATYP DST.ADDR DST.PORT. Malformed for address types other than 1, 3 and 4,
    // whose length cannot be known.
    static Result parseSocks5Request(const QByteArray &buffer, Request *request);
    // RSV FRAG ATYP DST.ADDR DST.PORT DATA. False for a short datagram or an address type other than 1 or 3.
    static bool parseDatagramHeader(const QByteArray &datagram, Request *header);
    // The header of a datagram relayed back to the client: fragment 0, an IPv4 address (0.0.0.0 for any other).
    static QByteArray datagramHeader(const QHostAddress &address, quint16 port);

private:
    static Result parseSocks5Address(const QByteArray &buffer, Request *request);
};

#endif
