#ifndef NIMBORA_HTTP_HTTPRESPONSE_H
#define NIMBORA_HTTP_HTTPRESPONSE_H

#include <QByteArray>
#include <QHash>
#include <QString>

// One response of a stream of HTTP/1.1 responses, parsed read by read. The same object is
// reused for every response of a connection.
class HttpResponse
{
public:
    // A header block that grows past this without its blank line is dropped.
    static constexpr int MaximumPendingHeader = 999;

    // Declared length minus what has been received; never below 0.
    qint64 remainingContentLength() const;
    // Replaces the chunk and counts it as received.
    void setContent(const QByteArray &data);
    // Clears the response but keeps pendingHeader, the start of the next one.
    void reset();
    // A header has been parsed and no body byte is due.
    bool isComplete() const;

    // Takes one read's worth of bytes (data is left empty) and returns response. While a body
    // is due, the bytes are body; otherwise a new response begins. Bytes past the declared body
    // are kept in pendingHeader as the start of the next response: when a complete response has
    // been handled and pendingHeader is not empty, call again with no data to parse it.
    static HttpResponse *parseResponse(QByteArray &data, HttpResponse *response);

    QString version;
    int statusCode = 0;
    QString reasonPhrase;
    QByteArray pendingHeader;
    QHash<QString, QString> headers; // names in lower case, values as sent
    QHash<QString, QString> cookies;
    QByteArray content; // the body bytes of this read only
    qint64 received = 0;

private:
    void takeBody(QByteArray &data);
    void parseHeader(const QByteArray &header);
};

#endif
