#ifndef NIMBORA_HTTP_HTTPREQUEST_H
#define NIMBORA_HTTP_HTTPREQUEST_H

#include <QByteArray>
#include <QHash>
#include <QNetworkProxy>
#include <QString>

// One request of the HTTP transport: a GET for the next download or a POST carrying upload
// bytes. A plain value; the body may go out in several chunks, counted by sent.
class HttpRequest
{
public:
    // What the tunnel adds to every request it sends.
    struct Sender
    {
        QString host;
        QString userAgent;
        QString session;
        QNetworkProxy::ProxyType proxyType = QNetworkProxy::NoProxy;
        QByteArray proxyAuthorization; // Base64 of "user:password"; empty until a proxy asks
    };

    explicit HttpRequest(const QString &method = QString(), const QString &path = QString());

    // Declared length minus what has been handed over; never below 0.
    qint64 remainingContentLength() const;
    // Replaces the chunk and counts it as sent.
    void setContent(const QByteArray &data);

    // The bytes to write: header, then the current chunk.
    static QByteArray buildRequest(const HttpRequest &request, const Sender &sender);
    // Letters and digits, each drawn on its own.
    static QString randomString(quint16 length);
    // The request line's target: absolute ("http://host/path") for an HTTP proxy, else "/path".
    static QByteArray requestTarget(const QString &host, const QString &path, QNetworkProxy::ProxyType proxyType);
    // The answer to a proxy's 407 whose challenge (its Proxy-Authenticate value) asks for Basic:
    // Base64 of "user:password" from the proxy's credentials. Empty for any other scheme.
    static QByteArray basicProxyAuthorization(const QString &challenge, const QNetworkProxy &proxy);

    QString method;
    QString path; // without the leading slash
    QString version;
    QHash<QString, QString> headers; // names in lower case
    QHash<QString, QString> cookies; // sent after "session"
    QByteArray content;
    qint64 sent = 0;
};

#endif
