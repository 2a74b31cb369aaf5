#include "http/httprequest.h"

#include <QRandomGenerator>

namespace {

const char Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int AlphabetSize = sizeof(Alphabet) - 1;

} // namespace

HttpRequest::HttpRequest(const QString &method, const QString &path)
    : method(method), path(path), version(QStringLiteral("HTTP/1.1"))
{
    headers.insert(QStringLiteral("content-type"), QStringLiteral("application/x-www-form-urlencoded"));
    headers.insert(QStringLiteral("content-length"), QStringLiteral("0"));
}

qint64 HttpRequest::remainingContentLength() const
{
    bool ok = false;
    const qint64 length = headers.value(QStringLiteral("content-length")).toLongLong(&ok);
    if (!ok || length <= sent)
        return 0;
    return length - sent;
}

void HttpRequest::setContent(const QByteArray &data)
{
    content = data;
    sent += data.size();
}

QByteArray HttpRequest::buildRequest(const HttpRequest &request, const Sender &sender)
{
    static const QByteArray lineEnd("\r\n");

    QByteArray bytes;
    bytes += request.method.toUtf8() + ' ' + requestTarget(sender.host, request.path, sender.proxyType) + ' '
        + request.version.toUtf8() + lineEnd;
    bytes += "Host: " + sender.host.toUtf8() + lineEnd;
    bytes += "User-Agent: " + sender.userAgent.toUtf8() + lineEnd;
    bytes += "Cookie: session=" + sender.session.toUtf8();
    for (auto cookie = request.cookies.cbegin(); cookie != request.cookies.cend(); ++cookie)
        bytes += "; " + cookie.key().toUtf8() + '=' + cookie.value().toUtf8();
    bytes += lineEnd;
    if (request.method == QLatin1String("POST")) {
        bytes += "Content-Type: " + request.headers.value(QStringLiteral("content-type")).toUtf8() + lineEnd;
        bytes += "Content-Length: " + request.headers.value(QStringLiteral("content-length")).toUtf8() + lineEnd;
    }
    if (!sender.proxyAuthorization.isEmpty())
        bytes += "Proxy-Authorization: Basic " + sender.proxyAuthorization + lineEnd;
    bytes += "Connection: keep-alive" + lineEnd;
    bytes += lineEnd;
    bytes += request.content;
    return bytes;
}

QByteArray HttpRequest::requestTarget(const QString &host, const QString &path, QNetworkProxy::ProxyType proxyType)
{
    QByteArray target;
    if (proxyType == QNetworkProxy::HttpProxy)
        target += "http://" + host.toUtf8();
    return target + '/' + path.toUtf8();
}

QByteArray HttpRequest::basicProxyAuthorization(const QString &challenge, const QNetworkProxy &proxy)
{
    if (challenge.section(QLatin1Char(' '), 0, 0).toLower() != QLatin1String("basic"))
        return QByteArray();
    return (proxy.user() + QLatin1Char(':') + proxy.password()).toLocal8Bit().toBase64();
}

QString HttpRequest::randomString(quint16 length)
{
    QString text;
    text.reserve(length);
    QRandomGenerator *generator = QRandomGenerator::global();
    for (int i = 0; i < length; ++i)
        text += QLatin1Char(Alphabet[generator->bounded(AlphabetSize)]);
    return text;
}
