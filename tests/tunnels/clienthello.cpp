#include "tests/tunnels/clienthello.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

// Values that clients sprinkle in at random so that servers tolerate unknown ones; fingerprints skip them.
bool isGrease(quint16 value)
{
    return (value & 0x0f0f) == 0x0a0a && (value >> 8) == (value & 0xff);
}

QList<quint16> withoutGrease(const QList<quint16> &values)
{
    QList<quint16> kept;
    std::copy_if(values.cbegin(), values.cend(), std::back_inserter(kept), [](quint16 v) { return !isGrease(v); });
    return kept;
}

// Bounds-checked big-endian reads over a byte range.
class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) { }
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_position >= m_bytes.size(); }
    quint32 number(int size)
    {
        if (!m_ok || m_position + size > m_bytes.size()) {
            m_ok = false;
            return 0;
        }
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value = (value << 8) | quint8(m_bytes.at(m_position++));
        return value;
    }
    QByteArray bytes(int size)
    {
        if (!m_ok || size < 0 || m_position + size > m_bytes.size()) {
            m_ok = false;
            return QByteArray();
        }
        m_position += size;
        return m_bytes.mid(m_position - size, size);
    }
    // A vector with a length prefix of lengthSize bytes.
    QByteArray vector(int lengthSize) { return bytes(int(number(lengthSize))); }
    QList<quint16> numbers16(int lengthSize)
    {
        Reader items(vector(lengthSize));
        QList<quint16> values;
        while (m_ok && items.ok() && !items.atEnd())
            values += quint16(items.number(2));
        m_ok = m_ok && items.ok();
        return values;
    }

private:
    QByteArray m_bytes;
    int m_position = 0;
    bool m_ok = true;
};

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString decimals(const QList<quint16> &values)
{
    QStringList texts;
    for (const quint16 value : values)
        texts += QString::number(value);
    return texts.join(QLatin1Char('-'));
}

QString hexList(const QList<quint16> &values)
{
    QStringList texts;
    for (const quint16 value : values)
        texts += hex4(value);
    return texts.join(QLatin1Char(','));
}

QString sha256Prefix(const QString &text)
{
    if (text.isEmpty())
        return QStringLiteral("000000000000");
    return QString::fromLatin1(QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Sha256).toHex().left(12));
}

QString versionCode(quint16 version)
{
    switch (version) {
    case 0x0304:
        return QStringLiteral("13");
    case 0x0303:
        return QStringLiteral("12");
    case 0x0302:
        return QStringLiteral("11");
    case 0x0301:
        return QStringLiteral("10");
    case 0x0300:
        return QStringLiteral("s3");
    default:
        return QStringLiteral("00");
    }
}

} // namespace

bool ClientHello::parse(const QByteArray &stream, bool *malformed)
{
    if (malformed)
        *malformed = false;
    // The handshake message may span several records.
    QByteArray handshake;
    Reader records(stream);
    while (!records.atEnd()) {
        const quint32 type = records.number(1);
        records.number(2);
        const QByteArray fragment = records.vector(2);
        if (!records.ok())
            break;
        if (type != 22) {
            if (malformed)
                *malformed = true;
            return false;
        }
        handshake += fragment;
    }
    Reader message(handshake);
    const quint32 type = message.number(1);
    Reader hello(message.vector(3));
    if (!message.ok())
        return false;
    if (type != 1) {
        if (malformed)
            *malformed = true;
        return false;
    }

    legacyVersion = quint16(hello.number(2));
    hello.bytes(32);
    sessionId = hello.vector(1);
    ciphers = hello.numbers16(2);
    hello.vector(1); // compression methods
    Reader extensionBlock(hello.vector(2));
    while (hello.ok() && extensionBlock.ok() && !extensionBlock.atEnd()) {
        const quint16 extensionType = quint16(extensionBlock.number(2));
        const QByteArray body = extensionBlock.vector(2);
        extensions += extensionType;
        Reader data(body);
        switch (extensionType) {
        case 0x0000: // server_name: one host name
            data.number(2);
            data.number(1);
            serverName = QString::fromLatin1(data.vector(2));
            break;
        case 0x000a:
            groups = data.numbers16(2);
            break;
        case 0x000b: {
            const QByteArray formats = data.vector(1);
            for (const char format : formats)
                pointFormats += quint8(format);
            break;
        }
        case 0x000d:
            signatureAlgorithms = data.numbers16(2);
            break;
        case 0x0010: {
            Reader names(data.vector(2));
            while (names.ok() && !names.atEnd())
                alpn += QString::fromLatin1(names.vector(1));
            break;
        }
        case 0x002b: {
            Reader versions(data.vector(1));
            while (versions.ok() && !versions.atEnd())
                supportedVersions += quint16(versions.number(2));
            break;
        }
        case 0x0033: {
            Reader shares(data.vector(2));
            while (shares.ok() && !shares.atEnd()) {
                keyShareGroups += quint16(shares.number(2));
                shares.vector(2);
            }
            break;
        }
        default:
            break;
        }
    }
    if (!hello.ok() || !extensionBlock.ok()) {
        if (malformed)
            *malformed = true;
        return false;
    }
    return true;
}

// Version, ciphers, extensions, groups, point formats: decimals, GREASE left out.
QString ClientHello::ja3Text() const
{
    return QStringList { QString::number(legacyVersion), decimals(withoutGrease(ciphers)),
        decimals(withoutGrease(extensions)), decimals(withoutGrease(groups)), decimals(pointFormats) }
        .join(QLatin1Char(','));
}

QString ClientHello::ja3() const
{
    return QString::fromLatin1(QCryptographicHash::hash(ja3Text().toLatin1(), QCryptographicHash::Md5).toHex());
}

// t, highest version, SNI or not, counts, ALPN's ends; then hashes of the sorted ciphers and of the sorted
// extensions (less SNI and ALPN) with the signature algorithms in their order.
QString ClientHello::ja4() const
{
    const QList<quint16> versions = withoutGrease(supportedVersions);
    const quint16 version = versions.isEmpty() ? legacyVersion : *std::max_element(versions.cbegin(), versions.cend());
    const QList<quint16> cipherList = withoutGrease(ciphers);
    const QList<quint16> extensionList = withoutGrease(extensions);
    const QString firstAlpn = alpn.value(0);
    const QString alpnCode = firstAlpn.isEmpty() ? QStringLiteral("00") : QString(firstAlpn.front()) + firstAlpn.back();
    const QString a = QStringLiteral("t") + versionCode(version)
        + (extensionList.contains(0x0000) ? QLatin1Char('d') : QLatin1Char('i'))
        + QStringLiteral("%1").arg(qMin(cipherList.size(), 99), 2, 10, QLatin1Char('0'))
        + QStringLiteral("%1").arg(qMin(extensionList.size(), 99), 2, 10, QLatin1Char('0')) + alpnCode;

    QList<quint16> sortedCiphers = cipherList;
    std::sort(sortedCiphers.begin(), sortedCiphers.end());
    QList<quint16> sortedExtensions;
    std::copy_if(extensionList.cbegin(), extensionList.cend(), std::back_inserter(sortedExtensions),
        [](quint16 type) { return type != 0x0000 && type != 0x0010; });
    std::sort(sortedExtensions.begin(), sortedExtensions.end());
    QString c = hexList(sortedExtensions);
    if (!signatureAlgorithms.isEmpty())
        c += QLatin1Char('_') + hexList(signatureAlgorithms);
    return a + QLatin1Char('_') + sha256Prefix(hexList(sortedCiphers)) + QLatin1Char('_') + sha256Prefix(c);
}

QStringList ClientHello::describe() const
{
    return { QStringLiteral("version %1").arg(hex4(legacyVersion)), QStringLiteral("ciphers ") + hexList(ciphers),
        QStringLiteral("extensions ") + hexList(extensions), QStringLiteral("groups ") + hexList(groups),
        QStringLiteral("point formats ") + hexList(pointFormats),
        QStringLiteral("signature algorithms ") + hexList(signatureAlgorithms),
        QStringLiteral("supported versions ") + hexList(supportedVersions),
        QStringLiteral("key shares ") + hexList(keyShareGroups), QStringLiteral("ALPN ") + alpn.join(QLatin1Char(',')),
        QStringLiteral("server name ") + serverName, QStringLiteral("session id length %1").arg(sessionId.size()) };
}
