#ifndef NIMBORA_TOOLS_SERVICE_HTTPREQUEST_H
#define NIMBORA_TOOLS_SERVICE_HTTPREQUEST_H

#include <QByteArray>
#include <QHash>
#include <QString>

// One request as the stand-in received it: the request line, the headers (names in lower
// case) and the cookies. The body is not kept here; the connection hands it out as it comes.
class HttpRequest
{
public:
    QString method;
    QString target; // as sent, absolute form included
    QString path; // target without scheme, host and query, always starting with "/"
    QString query; // raw, after the first "?"
    QString version;
    QHash<QString, QString> headers;
    QHash<QString, QString> cookies;
    qint64 contentLength = 0;

    QString header(const QString &name) const { return headers.value(name.toLower()); }
    bool hasCookie(const QString &name) const { return cookies.contains(name); }
    QString cookie(const QString &name) const { return cookies.value(name); }

    // The value of a query item, percent-decoded; the first occurrence wins.
    QString queryValue(const QString &name, bool *found = nullptr) const;

    // Whether the peer expects the connection to stay open after the response.
    bool keepAlive() const;

    QString describe() const; // "GET /client/check HTTP/1.1" for log lines
};

#endif
