#include "tools/service/multipartstripper.h"

#include <QtGlobal>

bool MultipartStripper::start(qint64 contentLength, qint64 before, qint64 after, QString *error)
{
    m_received = 0;
    m_contentLength = contentLength;
    if (contentLength < 0 || before < 0 || after < 0 || before > contentLength || after > contentLength - before) {
        *error = QStringLiteral("wrapping of %1 + %2 bytes does not fit a body of %3 bytes")
                     .arg(before)
                     .arg(after)
                     .arg(contentLength);
        m_payloadStart = m_payloadEnd = 0;
        return false;
    }
    m_payloadStart = before;
    m_payloadEnd = contentLength - after;
    return true;
}

QByteArray MultipartStripper::take(const QByteArray &piece)
{
    // Bytes past the announced length are not body; the caller never passes them.
    const qint64 size = qMin<qint64>(piece.size(), m_contentLength - m_received);
    const qint64 first = qMax(m_received, m_payloadStart);
    const qint64 last = qMin(m_received + size, m_payloadEnd);
    QByteArray payload;
    if (first < last)
        payload = piece.mid(int(first - m_received), int(last - first));
    m_received += size;
    return payload;
}

bool MultipartStripper::parseSize(const QString &text, bool present, qint64 *size)
{
    *size = 0;
    if (!present)
        return true;
    if (text.isEmpty() || text.size() > 12)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *size = text.toLongLong();
    return true;
}
