// The HTTP response parser on arbitrary bytes cut into reads at places the input chooses: no read past the end,
// the counters stay consistent, and body bytes are counted once.
#include "http/httpresponse.h"

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
    if (size < 1)
        return 0;
    // The first byte sets the read size; the rest is the stream.
    const int readSize = 1 + data[0] * 8;
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), int(size - 1));

    HttpResponse response;
    for (int at = 0; at < stream.size(); at += readSize) {
        QByteArray read = stream.mid(at, readSize);
        const int readBytes = read.size();
        const bool inBody = response.remainingContentLength() != 0;
        const qint64 receivedBefore = response.received;

        check(HttpResponse::parseResponse(read, &response) == &response);
        check(read.isEmpty());
        check(response.remainingContentLength() >= 0);
        check(response.received >= response.content.size());
        check(response.pendingHeader.size() <= HttpResponse::MaximumPendingHeader
            || response.pendingHeader.contains("\r\n\r\n"));
        if (inBody) {
            check(response.received - receivedBefore == response.content.size());
            check(response.content.size() + response.pendingHeader.size() <= readBytes);
        }
        // Parse what a complete response left behind, as a channel does: each pass takes at least a header's end.
        const int kept = response.pendingHeader.size();
        for (int pass = 0; response.isComplete() && !response.pendingHeader.isEmpty(); ++pass) {
            const int pending = response.pendingHeader.size();
            QByteArray none;
            HttpResponse::parseResponse(none, &response);
            check(response.pendingHeader.size() <= pending - 4 || response.headers.isEmpty());
            check(pass <= kept / 4);
        }
    }
    return 0;
}
