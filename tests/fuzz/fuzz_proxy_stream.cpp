// A proxy stored in the settings, whatever bytes it became: reading it never crashes, gives a known proxy type or
// a failed stream, and a proxy read back from what it writes is the same.
#include "core/networkproxystream.h"

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
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    QDataStream stream(bytes);
    QNetworkProxy proxy(QNetworkProxy::HttpProxy, QStringLiteral("untouched"), 1);
    stream >> proxy;
    if (stream.status() != QDataStream::Ok) {
        // A failed read leaves the value as it was.
        check(proxy.type() == QNetworkProxy::HttpProxy && proxy.hostName() == QLatin1String("untouched"));
        return 0;
    }
    check(proxy.type() >= QNetworkProxy::DefaultProxy && proxy.type() <= QNetworkProxy::FtpCachingProxy);
    check(proxy.hostName().size() <= int(size));

    QByteArray written;
    QDataStream out(&written, QIODevice::WriteOnly);
    out << proxy;
    QDataStream in(written);
    QNetworkProxy again;
    in >> again;
    check(in.status() == QDataStream::Ok && in.atEnd());
    check(again.type() == proxy.type() && again.hostName() == proxy.hostName() && again.port() == proxy.port());
    return 0;
}
