#include "tools/service/httprequestparser.h"

#include <QList>
#include <QStringList>

namespace {

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u >= 127 || QByteArray("()<>@,;:\\\"/[]?={}").contains(c))
            return false;
    }
    return true;
}

bool isVisibleText(const QByteArray &text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 32 && c != '\t') || u == 127)
            return false;
    }
    return true;
}

} // namespace

HttpRequestParser::Status HttpRequestParser::parse(QByteArray &buffer, HttpRequest *request, QString *error)
{
    // Blank lines before a request line are tolerated, as the HTTP rules ask.
    int start = 0;
    while (buffer.size() >= start + 2 && buffer.at(start) == '\r' && buffer.at(start + 1) == '\n')
        start += 2;
    if (start > 0)
        buffer.remove(0, start);

    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (buffer.size() > MaximumHeaderSize) {
            *error = QStringLiteral("header longer than %1 bytes").arg(MaximumHeaderSize);
            return Malformed;
        }
        return NeedMore;
    }
    if (end > MaximumHeaderSize) {
        *error = QStringLiteral("header longer than %1 bytes").arg(MaximumHeaderSize);
        return Malformed;
    }

    *request = HttpRequest();
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    if (lines.size() - 1 > MaximumHeaderCount) {
        *error = QStringLiteral("more than %1 header lines").arg(MaximumHeaderCount);
        return Malformed;
    }
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (i + 1 < lines.size()) {
            if (!line.endsWith('\r')) {
                *error = QStringLiteral("line %1 does not end with CR LF").arg(i + 1);
                return Malformed;
            }
            line.chop(1);
        }
        if (line.contains('\r') || line.contains('\0')) {
            *error = QStringLiteral("stray CR or NUL byte on line %1").arg(i + 1);
            return Malformed;
        }
        const bool ok = i == 0 ? parseRequestLine(line, request, error) : parseHeaderLine(line, request, error);
        if (!ok)
            return Malformed;
    }
    parseCookies(request);
    buffer.remove(0, end + 4);
    return Complete;
}

bool HttpRequestParser::parseRequestLine(const QByteArray &line, HttpRequest *request, QString *error)
{
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3 || words.at(1).isEmpty()) {
        *error = QStringLiteral("malformed request line");
        return false;
    }
    if (!isToken(words.at(0))) {
        *error = QStringLiteral("malformed method");
        return false;
    }
    if (words.at(2) != "HTTP/1.1" && words.at(2) != "HTTP/1.0") {
        *error = QStringLiteral("unsupported protocol version");
        return false;
    }
    if (!isVisibleText(words.at(1)) || words.at(1).contains('\t')) {
        *error = QStringLiteral("malformed request target");
        return false;
    }
    request->method = QString::fromLatin1(words.at(0));
    request->target = QString::fromLatin1(words.at(1));
    request->version = QString::fromLatin1(words.at(2));
    if (!parseTarget(request->target, request)) {
        *error = QStringLiteral("malformed request target");
        return false;
    }
    return true;
}

// Origin form ("/client/check?...") or, as proxies and probes through proxies send it,
// absolute form ("http://198.18.0.11/ping").
bool HttpRequestParser::parseTarget(const QString &target, HttpRequest *request)
{
    QString rest = target;
    if (rest.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || rest.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        const int hostStart = rest.indexOf(QLatin1String("//")) + 2;
        const int slash = rest.indexOf(QLatin1Char('/'), hostStart);
        if (slash < 0 || slash == hostStart)
            return false;
        rest = rest.mid(slash);
    }
    if (!rest.startsWith(QLatin1Char('/')))
        return false;
    const int question = rest.indexOf(QLatin1Char('?'));
    request->path = question < 0 ? rest : rest.left(question);
    request->query = question < 0 ? QString() : rest.mid(question + 1);
    return true;
}

bool HttpRequestParser::parseHeaderLine(const QByteArray &line, HttpRequest *request, QString *error)
{
    if (line.startsWith(' ') || line.startsWith('\t')) {
        *error = QStringLiteral("folded header line");
        return false;
    }
    const int colon = line.indexOf(':');
    const QByteArray name = colon < 0 ? QByteArray() : line.left(colon);
    if (!isToken(name)) {
        *error = QStringLiteral("malformed header line");
        return false;
    }
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (!isVisibleText(value)) {
        *error = QStringLiteral("control character in header %1").arg(QString::fromLatin1(name));
        return false;
    }
    const QString key = QString::fromLatin1(name).toLower();
    const QString text = QString::fromLatin1(value);

    if (key == QLatin1String("content-length")) {
        bool ok = !value.isEmpty() && value.size() <= 18;
        for (const char c : value)
            ok = ok && c >= '0' && c <= '9';
        const qint64 length = ok ? value.toLongLong(&ok) : -1;
        if (!ok) {
            *error = QStringLiteral("malformed Content-Length");
            return false;
        }
        if (request->headers.contains(key) && request->contentLength != length) {
            *error = QStringLiteral("conflicting Content-Length headers");
            return false;
        }
        if (length > MaximumContentLength) {
            *error = QStringLiteral("Content-Length above %1").arg(MaximumContentLength);
            return false;
        }
        request->contentLength = length;
    } else if (key == QLatin1String("transfer-encoding")) {
        *error = QStringLiteral("Transfer-Encoding is not supported");
        return false;
    }

    if (key == QLatin1String("cookie") && request->headers.contains(key))
        request->headers[key] += QStringLiteral("; ") + text;
    else
        request->headers.insert(key, text);
    return true;
}

void HttpRequestParser::parseCookies(HttpRequest *request)
{
    const QStringList pairs = request->header(QStringLiteral("cookie")).split(QLatin1Char(';'));
    for (const QString &pair : pairs) {
        const QString trimmed = pair.trimmed();
        const int equals = trimmed.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString name = trimmed.left(equals);
        if (!request->cookies.contains(name))
            request->cookies.insert(name, trimmed.mid(equals + 1));
    }
}
