#include "core/mainserveraccess.h"

#include "base/settingskeys.h"
#include "base/useragent.h"

#include <QDomDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSettings>
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

} // namespace

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
    m_request.setUrl(QUrl(url, QUrl::TolerantMode));

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
    m_timer.stop();
    emit proxyAuthenticationRequired(proxy, authenticator);
    // Time spent answering does not count against the server.
    if (m_waiting)
        m_timer.start(TimeLimit);
}

void MainServerAccess::sslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    reply->ignoreSslErrors(errors);
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
