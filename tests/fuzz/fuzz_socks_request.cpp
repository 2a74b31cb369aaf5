// Every SOCKS message reader on arbitrary bytes: no read past the end, and a message found in the bytes reads
// the same when it arrives alone.
#include "tunnels/socksparser.h"

#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        abort();
}

void checkRequest(SocksParser::Result (*parse)(const QByteArray &, SocksParser::Request *), const QByteArray &bytes)
{
    SocksParser::Request request;
    if (parse(bytes, &request) != SocksParser::Complete)
        return;
    check(request.length > 0 && request.length <= bytes.size());
    SocksParser::Request alone;
    check(parse(bytes.left(request.length), &alone) == SocksParser::Complete);
    check(alone.length == request.length && alone.port == request.port && alone.hostName == request.hostName
        && alone.address == request.address);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Raw data, not a copy: the sanitizer sees the exact end of the input.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));

    checkRequest(SocksParser::parseSocks4Request, bytes);
    checkRequest(SocksParser::parseSocks5Request, bytes);

    QByteArray methods;
    int length = 0;
    if (SocksParser::parseSocks5Greeting(bytes, &methods, &length) == SocksParser::Complete) {
        check(length >= 2 && length <= bytes.size() && methods.size() == length - 2);
        // A client may send its request in the same read as the greeting.
        checkRequest(
            SocksParser::parseSocks5Request, QByteArray::fromRawData(bytes.constData() + length, int(size) - length));
    }

    SocksParser::Request header;
    if (SocksParser::parseDatagramHeader(bytes, &header))
        check(header.length > 3 && header.length <= bytes.size());
    return 0;
}
