#ifndef NIMBORA_CORE_SERVERSREFRESHWORK_H
#define NIMBORA_CORE_SERVERSREFRESHWORK_H

#include "core/backgroundworker.h"
#include "http/httpresponse.h"

#include <QAbstractSocket>
#include <QAuthenticator>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkProxy>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <QVariant>

class QEventLoop;

// Fetches the list of VPN servers, hands it to the main window, then measures each usable
// endpoint's latency with a GET of "/ping" on port 80, one endpoint after the other.
class ServersRefreshWork : public BackgroundWorker
{
    Q_OBJECT

public:
    enum Error { NoError = 0, ServerError = 1, DeniedError = 2, UnknownError = 3 };
    Q_ENUM(Error)

    enum Action { FetchList = 1, MeasureLatencies = 2 };

    // Latencies in milliseconds, or one of these.
    enum Latency { NoAnswer = -1, WrongAnswer = -2, TimedOut = -3 };

    static constexpr quint16 ProbePort = 80;
    static constexpr int ProbeTimeLimit = 1000;

    explicit ServersRefreshWork(QObject *parent = nullptr);
    ~ServersRefreshWork() override;

    void setActions(int actions);
    QList<QVariant> servers() const;
    bool isPremium() const;

    // "server name/country code/tunnel name"
    static QString endpointKey(const QVariantHash &server, const QVariantHash &country, const QVariantHash &tunnel);

signals:
    void updated();
    void latencyChanged(const QString &name, int latency);
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void error(ServersRefreshWork::Error error);

protected:
    void run() override;

private slots:
    void socketProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void socketConnected();
    void socketReadyRead();
    void socketError(QAbstractSocket::SocketError socketError);
    void socketDisconnected();
    void socketTimeout();

private:
    bool fetchList();
    void measure();
    void finishMeasurement();

    QTcpSocket m_socket;
    int m_actions = FetchList | MeasureLatencies;
    QHash<QString, int> m_latencies;
    QNetworkProxy m_proxy;
    QByteArray m_proxyAuthorization;
    bool m_retryWithCredentials = false;
    QTimer m_timer;
    QElapsedTimer m_elapsed;
    HttpResponse m_response;
    QByteArray m_body; // the probe's body so far, however the reads split it
    int m_latency = NoAnswer;
    QString m_userAgent;
    QString m_host;
    bool m_premium = false;
    QList<QVariant> m_servers;
    QEventLoop *m_loop = nullptr; // only while a measurement is under way
};

#endif
