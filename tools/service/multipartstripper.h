#ifndef NIMBORA_TOOLS_SERVICE_MULTIPARTSTRIPPER_H
#define NIMBORA_TOOLS_SERVICE_MULTIPARTSTRIPPER_H

#include <QByteArray>
#include <QString>

// Takes the payload out of an upload body whose first `before` and last `after` bytes are
// the multipart wrapping (the sizes come from the cookies "beforeData" and "afterData").
// The body arrives in pieces of any size; each piece gives back the payload it holds.
class MultipartStripper
{
public:
    // False, with a reason, when the sizes do not fit the announced body length.
    bool start(qint64 contentLength, qint64 before, qint64 after, QString *error);

    QByteArray take(const QByteArray &piece);

    // Reads a size cookie: absent means 0; anything but a plain decimal number is refused.
    static bool parseSize(const QString &text, bool present, qint64 *size);

private:
    qint64 m_contentLength = 0;
    qint64 m_payloadStart = 0;
    qint64 m_payloadEnd = 0;
    qint64 m_received = 0;
};

#endif
