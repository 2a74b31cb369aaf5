#include "http/httpresponse.h"

#include <QStringList>

namespace {

const char HeaderEnd[] = "\r\n\r\n";
constexpr int HeaderEndSize = 4;

} // namespace

qint64 HttpResponse::remainingContentLength() const
{
    bool ok = false;
    const qint64 length = headers.value(QStringLiteral("content-length")).toLongLong(&ok);
    if (!ok || length <= received)
        return 0;
    return length - received;
}

void HttpResponse::setContent(const QByteArray &data)
{
    content = data;
    received += data.size();
}

void HttpResponse::reset()
{
    version.clear();
    statusCode = 0;
    reasonPhrase.clear();
    headers.clear();
    cookies.clear();
    content.clear();
    received = 0;
}

bool HttpResponse::isComplete() const
{
    return !headers.isEmpty() && remainingContentLength() == 0;
}

HttpResponse *HttpResponse::parseResponse(QByteArray &data, HttpResponse *response)
{
    if (!response)
        return response;

    if (response->remainingContentLength() != 0) {
        response->takeBody(data);
        return response;
    }

    response->reset();
    data.prepend(response->pendingHeader);
    const int headerEnd = data.indexOf(HeaderEnd);
    if (headerEnd < 0) {
        // Past the limit the bytes are dropped and the old pending bytes stay: the stream is
        // broken, and memory stays bounded while it goes on.
        if (data.size() <= MaximumPendingHeader)
            response->pendingHeader = data;
        data.clear();
        return response;
    }
    response->pendingHeader.clear();

    response->parseHeader(data.left(headerEnd));
    data.remove(0, headerEnd + HeaderEndSize);
    response->takeBody(data);
    return response;
}

void HttpResponse::takeBody(QByteArray &data)
{
    const qint64 remaining = remainingContentLength();
    if (data.size() > remaining) {
        // The next response has begun in the same read. What cannot be the start of a header
        // is dropped, as an endless header block would be.
        const QByteArray surplus = data.mid(int(remaining));
        data.truncate(int(remaining));
        if (surplus.size() <= MaximumPendingHeader || surplus.contains(HeaderEnd))
            pendingHeader = surplus;
    }
    setContent(data);
    data.clear();
}

void HttpResponse::parseHeader(const QByteArray &header)
{
    QByteArray text = header;
    const int nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    const QStringList lines = QString::fromLatin1(text).split(QStringLiteral("\r\n"));

    const QString &statusLine = lines.first();
    const int firstBlank = statusLine.indexOf(QLatin1Char(' '));
    version = statusLine.left(firstBlank);
    if (firstBlank >= 0) {
        const int secondBlank = statusLine.indexOf(QLatin1Char(' '), firstBlank + 1);
        const int codeSize = secondBlank < 0 ? -1 : secondBlank - firstBlank - 1;
        bool ok = false;
        statusCode = statusLine.mid(firstBlank + 1, codeSize).toInt(&ok, 10);
        if (!ok)
            statusCode = 0;
        if (secondBlank >= 0)
            reasonPhrase = statusLine.mid(secondBlank + 1);
    }

    const QString separator = QStringLiteral(": ");
    for (int i = 1; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        const int at = line.indexOf(separator);
        if (at < 0)
            headers.insert(line.toLower(), QString());
        else
            headers.insert(line.left(at).toLower(), line.mid(at + separator.size()));
    }

    const auto cookie = headers.constFind(QStringLiteral("cookie"));
    if (cookie != headers.constEnd()) {
        const QStringList pieces = cookie.value().split(QStringLiteral("; "));
        for (const QString &piece : pieces) {
            const int at = piece.indexOf(QLatin1Char('='));
            if (at < 0)
                cookies.insert(piece, QString());
            else
                cookies.insert(piece.left(at), piece.mid(at + 1));
        }
    }
}
