#include "tools/service/httprequest.h"

#include <QStringList>

QString HttpRequest::queryValue(const QString &name, bool *found) const
{
    const QStringList items = query.split(QLatin1Char('&'));
    for (const QString &item : items) {
        const int equals = item.indexOf(QLatin1Char('='));
        const QString key = equals < 0 ? item : item.left(equals);
        if (QString::fromUtf8(QByteArray::fromPercentEncoding(key.toUtf8())) != name)
            continue;
        if (found)
            *found = true;
        if (equals < 0)
            return QString();
        return QString::fromUtf8(QByteArray::fromPercentEncoding(item.mid(equals + 1).toUtf8()));
    }
    if (found)
        *found = false;
    return QString();
}

bool HttpRequest::keepAlive() const
{
    const QString connection = header(QStringLiteral("connection")).toLower();
    if (version == QLatin1String("HTTP/1.0"))
        return connection == QLatin1String("keep-alive");
    return connection != QLatin1String("close");
}

QString HttpRequest::describe() const
{
    return method + QLatin1Char(' ') + target + QLatin1Char(' ') + version;
}
