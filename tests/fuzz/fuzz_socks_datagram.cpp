// The SOCKS 5 UDP relay on arbitrary datagrams from the client: no read past the end, the payload starts inside
// the datagram, and a header read back after the relay rebuilt it gives the same destination.
#include "tunnels/socksparser.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    SocksParser::Request header;
    if (!SocksParser::parseDatagramHeader(datagram, &header))
        return 0;
    check(header.length > 3 && header.length <= datagram.size());
    check(header.addressType == SocksParser::IPv4Address || header.addressType == SocksParser::DomainName);
    check(header.addressType == SocksParser::IPv4Address ? header.length == 10 : header.hostName.size() < 256);
    if (header.addressType != SocksParser::IPv4Address)
        return 0;

    // What goes back to the client for an answer from this destination carries the same payload after a header
    // that reads as the same address and port; only the reserved bytes and the fragment number may differ.
    const QByteArray payload = datagram.mid(header.length);
    const QByteArray answer = SocksParser::datagramHeader(header.address, header.port) + payload;
    check(answer.mid(3) == datagram.mid(3));
    SocksParser::Request answerHeader;
    check(SocksParser::parseDatagramHeader(answer, &answerHeader));
    check(answerHeader.command == 0 && answerHeader.address == header.address && answerHeader.port == header.port
        && answerHeader.length == header.length);
    return 0;
}
