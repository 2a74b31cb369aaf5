#ifndef NIMBORA_TOOLS_SERVICE_HTTPREQUESTPARSER_H
#define NIMBORA_TOOLS_SERVICE_HTTPREQUESTPARSER_H

#include "tools/service/httprequest.h"

#include <QByteArray>
#include <QString>

// Reads one request header from the front of a connection's input. Everything a peer sends
// is checked: the request line, every header line, the announced body length. What a peer
// may make us hold is bounded by MaximumHeaderSize.
class HttpRequestParser
{
public:
    enum Status { NeedMore, Complete, Malformed };

    static constexpr int MaximumHeaderSize = 16 * 1024;
    static constexpr int MaximumHeaderCount = 64;
    static constexpr qint64 MaximumContentLength = 64 * 1024 * 1024;

    // On Complete the header (and its blank line) is removed from buffer and request is
    // filled; the body, if any, starts at the front of buffer. On Malformed error says why.
    static Status parse(QByteArray &buffer, HttpRequest *request, QString *error);

private:
    static bool parseRequestLine(const QByteArray &line, HttpRequest *request, QString *error);
    static bool parseTarget(const QString &target, HttpRequest *request);
    static bool parseHeaderLine(const QByteArray &line, HttpRequest *request, QString *error);
    static void parseCookies(HttpRequest *request);
};

#endif
