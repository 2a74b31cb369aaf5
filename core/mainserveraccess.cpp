#include "core/mainserveraccess.h"

#include "base/settingskeys.h"
#include "base/useragent.h"
#include "buildconfig.h"
#include "core/networkproxyfactory.h"

#include <QCryptographicHash>
#include <QDomDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>

namespace {

const char *commandPath(MainServerAccess::Command command)
{
    switch (command) {
    case MainServerAccess::Check:
        return "check";
    case MainServerAccess::Version:
        return "version";
    case MainServerAccess::Login:
        return "login";
    case MainServerAccess::Account:
        return "account";
    case MainServerAccess::Servers:
        return "servers";
    case MainServerAccess::Connection:
        return "connection";
    }
    return nullptr;
}

// Throttles Qt's network thread so that a flood cannot pile up faster than it is counted.
const qint64 ReadBufferSize = 256 * 1024;

QList<QByteArray> parsePins(const QString &pins)
{
    QList<QByteArray> digests;
    const QStringList texts = pins.split(QRegularExpression(QStringLiteral("[;\\s]+")), Qt::SkipEmptyParts);
    for (const QString &text : texts) {
        const QByteArray digest = QByteArray::fromBase64(text.toLatin1());
        // A broken pin matches no key: with pins set, pinning stays on rather than failing open.
        if (digest.size() != 32)
            qWarning("MainServerAccess: ignoring the key pin \"%s\", not a base64 SHA-256 digest", qPrintable(text));
        digests.append(digest);
    }
    return digests;
}

// Set once before any work thread starts, read only afterwards.
QList<QByteArray> &pinnedKeys()
{
    static QList<QByteArray> digests = parsePins(QStringLiteral(NIMBORA_MAIN_SERVER_PIN));
    return digests;
}

struct DerElement
{
    quint8 tag = 0;
    int start = 0;
    int contentStart = 0;
    int end = 0;
};

// The DER element at offset, within limit; false when its header or length does not fit.
bool readDerElement(const QByteArray &der, int offset, int limit, DerElement *element)
{
    if (offset < 0 || limit > der.size() || offset + 2 > limit)
        return false;
    const quint8 tag = quint8(der.at(offset));
    if ((tag & 0x1f) == 0x1f) // multi-byte tags have no place in a certificate's fields
        return false;
    qint64 length = quint8(der.at(offset + 1));
    int position = offset + 2;
    if (length & 0x80) {
        const int lengthBytes = int(length & 0x7f);
        if (lengthBytes == 0 || lengthBytes > 4 || position + lengthBytes > limit)
            return false;
        length = 0;
        for (int i = 0; i < lengthBytes; ++i)
            length = (length << 8) | quint8(der.at(position++));
    }
    if (length > limit - position)
        return false;
    *element = { tag, offset, position, position + int(length) };
    return true;
}

// The certificate's SubjectPublicKeyInfo as it stands in the DER, empty when the shape is not
// that of an X.509 certificate. Hashing these bytes gives the usual pin whatever the key type.
QByteArray subjectPublicKeyInfo(const QByteArray &certificate)
{
    const quint8 sequence = 0x30;
    const quint8 explicitVersion = 0xa0;
    DerElement whole;
    DerElement toBeSigned;
    if (!readDerElement(certificate, 0, certificate.size(), &whole) || whole.tag != sequence
        || !readDerElement(certificate, whole.contentStart, whole.end, &toBeSigned) || toBeSigned.tag != sequence)
        return QByteArray();
    // [version,] serial number, signature, issuer, validity, subject, subjectPublicKeyInfo.
    QList<DerElement> fields;
    DerElement field;
    for (int offset = toBeSigned.contentStart; fields.size() < 7 && offset < toBeSigned.end; offset = field.end) {
        if (!readDerElement(certificate, offset, toBeSigned.end, &field))
            return QByteArray();
        fields.append(field);
    }
    const int keyIndex = (!fields.isEmpty() && fields.first().tag == explicitVersion) ? 6 : 5;
    if (keyIndex >= fields.size() || fields.at(keyIndex).tag != sequence)
        return QByteArray();
    const DerElement &key = fields.at(keyIndex);
    return certificate.mid(key.start, key.end - key.start);
}

bool isPinned(const QSslCertificate &certificate)
{
    const QByteArray key = subjectPublicKeyInfo(certificate.toDer());
    return !key.isEmpty() && pinnedKeys().contains(QCryptographicHash::hash(key, QCryptographicHash::Sha256));
}

const QList<QSslCertificate> &builtInAuthorities()
{
    static const QList<QSslCertificate> authorities = []() {
        const QByteArray pem(NIMBORA_MAIN_SERVER_CA);
        const QList<QSslCertificate> parsed = QSslCertificate::fromData(pem, QSsl::Pem);
        if (!pem.isEmpty() && parsed.isEmpty())
            qWarning("MainServerAccess: the built-in NIMBORA_MAIN_SERVER_CA holds no certificate that can be read");
        return parsed;
    }();
    return authorities;
}

// Naming any authority turns off Qt's loading of the system's store on demand: the system's
// certificates are then listed with the operator's, read once.
const QList<QSslCertificate> &systemAndBuiltInAuthorities()
{
    static const QList<QSslCertificate> authorities = QSslConfiguration::systemCaCertificates() + builtInAuthorities();
    return authorities;
}

QList<QSslCertificate> authoritiesOfFile(const QString &file)
{
    const QList<QSslCertificate> authorities
        = QSslCertificate::fromPath(file, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (authorities.isEmpty())
        qWarning(
            "MainServerAccess: NIMBORA_MAIN_SERVER_CA names \"%s\", which holds no PEM certificate that can be read",
            qPrintable(file));
    return authorities;
}

// Over HTTPS the chain must lead to a trusted authority and name the built-in host, whatever
// address the settings reach the server by. The authorities are the system's and the operator's
// private one built in; NIMBORA_MAIN_SERVER_CA names the only ones of a run (the lab's).
// With pins set only the server's key counts: an empty trust store makes every certificate raise
// sslErrors, where the key is checked during the handshake, before the request can be written.
// An abort from encrypted() would race with Qt's network thread, which goes on to write the
// request once that signal returns.
QSslConfiguration mainServerTls()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QString namedFile = qEnvironmentVariable("NIMBORA_MAIN_SERVER_CA");
    if (!pinnedKeys().isEmpty())
        tls.setCaCertificates({});
    else if (!namedFile.isEmpty())
        tls.setCaCertificates(authoritiesOfFile(namedFile));
    else if (!builtInAuthorities().isEmpty())
        tls.setCaCertificates(systemAndBuiltInAuthorities());
    return tls;
}

QString describe(const QList<QSslError> &errors)
{
    QStringList texts;
    for (const QSslError &error : errors)
        texts.append(error.errorString());
    texts.removeDuplicates();
    return texts.join(QLatin1String("; "));
}

} // namespace

void MainServerAccess::setPinnedKeys(const QString &pins)
{
    pinnedKeys() = parsePins(pins);
}

MainServerAccess::MainServerAccess(QObject *parent) : QObject(parent), m_manager(new QNetworkAccessManager(this))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer); // a coarse timer may end the wait up to 5 % early
    connect(m_manager, &QNetworkAccessManager::proxyAuthenticationRequired, this,
        &MainServerAccess::proxyAuthenticationRequiredForward);
    connect(m_manager, &QNetworkAccessManager::sslErrors, this, &MainServerAccess::sslErrors);
    connect(m_manager, &QNetworkAccessManager::finished, this, &MainServerAccess::requestFinished);
    connect(&m_timer, &QTimer::timeout, this, &MainServerAccess::requestTimeout);
}

MainServerAccess::~MainServerAccess() = default;

QDomElement MainServerAccess::request(Command command, const QString &query)
{
    if (m_waiting) {
        // Called again from an event handled while waiting: one request at a time.
        qWarning("MainServerAccess: a request is already under way");
        return QDomElement();
    }
    QSettings settings;
    const bool secure = settings.value(SettingsKeys::MainServerSecure, SettingsKeys::MainServerSecureDefault).toBool();
    const QString host
        = settings.value(SettingsKeys::MainServerAddress, SettingsKeys::defaultMainServerAddress()).toString();

    m_request.setRawHeader("User-Agent", UserAgent::configured().toUtf8());

    m_error = QNetworkReply::NoError;
    m_errorString.clear();
    m_body.clear();

    const char *path = commandPath(command);
    if (!path) {
        m_error = QNetworkReply::ProtocolUnknownError;
        m_errorString = QStringLiteral("Unknown main-server command %1").arg(int(command));
        return QDomElement();
    }

    QString url = (secure ? QStringLiteral("https") : QStringLiteral("http")) + QLatin1String("://") + host
        + QLatin1String("/client/") + QLatin1String(path);
    if (!query.isEmpty())
        url += QLatin1Char('?') + query;
    // Pins promise that only the server's own key sees the login digest and the session.
    if (!secure && !pinnedKeys().isEmpty()) {
        m_error = QNetworkReply::ProtocolUnknownError;
        m_errorString = QStringLiteral("Plain HTTP to the main server is refused while its key is pinned");
        qWarning("MainServerAccess: %s", qPrintable(m_errorString));
        return QDomElement();
    }
    m_request.setUrl(QUrl(url, QUrl::TolerantMode));
    m_request.setSslConfiguration(mainServerTls());
    m_request.setPeerVerifyName(SettingsKeys::defaultMainServerAddress());

    m_reply = m_manager->get(m_request);
    m_reply->setReadBufferSize(ReadBufferSize);
    connect(m_reply, &QNetworkReply::readyRead, this, &MainServerAccess::replyReadyRead);
    m_waiting = true;
    m_timer.start(TimeLimit);
    if (m_waiting)
        m_loop.exec();

    QByteArray body;
    body.swap(m_body);
    if (m_error != QNetworkReply::NoError)
        return QDomElement();
    QDomDocument document;
    document.setContent(body, false);
    return document.documentElement();
}

QNetworkReply::NetworkError MainServerAccess::error() const
{
    return m_error;
}

QString MainServerAccess::errorString() const
{
    return m_errorString;
}

void MainServerAccess::proxyAuthenticationRequiredForward(const QNetworkProxy &proxy, QAuthenticator *authenticator)
{
    if (NetworkProxyFactory::giveCredentialsInForce(proxy, authenticator))
        return;
    m_timer.stop();
    emit proxyAuthenticationRequired(proxy, authenticator);
    // Time spent answering does not count against the server.
    if (m_waiting)
        m_timer.start(TimeLimit);
}

// Not ignoring the errors ends the handshake before the request is written. With pins only the
// server's own key counts, not its issuers': the chain it sends is not verified, so a pinned
// issuer in it would prove nothing.
void MainServerAccess::sslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    if (pinnedKeys().isEmpty())
        refuseCertificate(reply, QStringLiteral("The main server's certificate is refused: ") + describe(errors));
    else if (isPinned(reply->sslConfiguration().peerCertificate()))
        reply->ignoreSslErrors(errors);
    else
        refuseCertificate(reply, QStringLiteral("The main server's certificate key is not among the pinned keys"));
}

void MainServerAccess::refuseCertificate(QNetworkReply *reply, const QString &reason)
{
    qWarning("MainServerAccess: %s", qPrintable(reason));
    if (reply != m_reply || m_error != QNetworkReply::NoError)
        return;
    m_error = QNetworkReply::SslHandshakeFailedError;
    m_errorString = reason;
}

void MainServerAccess::requestFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_reply)
        return;
    m_timer.stop();
    if (m_error == QNetworkReply::NoError) {
        m_error = reply->error();
        m_errorString = reply->errorString();
    }
    if (m_error == QNetworkReply::NoError) {
        replyReadyRead();
    }
    m_reply = nullptr;
    m_waiting = false;
    m_loop.quit();
}

void MainServerAccess::requestTimeout()
{
    if (m_reply)
        m_reply->abort();
}

void MainServerAccess::replyReadyRead()
{
    if (!m_reply || m_error != QNetworkReply::NoError)
        return;
    const qint64 available = m_reply->bytesAvailable();
    if (m_body.size() + available > MaximumReplySize) {
        m_error = QNetworkReply::UnknownContentError;
        m_errorString = QStringLiteral("The main server's reply exceeds %1 bytes").arg(MaximumReplySize);
        m_body.clear();
        m_reply->abort();
        return;
    }
    m_body.append(m_reply->readAll());
}
