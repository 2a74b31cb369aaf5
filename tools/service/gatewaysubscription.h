#ifndef NIMBORA_TOOLS_SERVICE_GATEWAYSUBSCRIPTION_H
#define NIMBORA_TOOLS_SERVICE_GATEWAYSUBSCRIPTION_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class QTcpSocket;

// One subscriber to the gateway's events: its callback, SID and event sequence, and the NOTIFY
// requests not yet delivered. They go one at a time and in order, each on a connection of its
// own, so that a subscriber never sees an older count after a newer one.
class GatewaySubscription : public QObject
{
    Q_OBJECT

public:
    static constexpr int AnswerTimeout = 10000;
    static constexpr int MaximumAnswer = 16 * 1024;
    static constexpr int MaximumQueued = 32;
    static constexpr int SplitDelay = 200; // long enough for the first half to be read alone

    GatewaySubscription(const QHostAddress &address, quint16 port, const QString &path, int timeoutSeconds,
        bool splitNotify, QObject *parent = nullptr);

    QString sid() const { return m_sid; }
    QString callback() const;
    bool hasExpired() const { return m_expiry.hasExpired(); }
    void renew();
    // Queues one NOTIFY carrying the property set.
    void notify(const QByteArray &propertySet);

private slots:
    void socketConnected();
    void socketReadyRead();
    void writeSecondHalf();
    void finish();

private:
    void sendNext();

    QHostAddress m_address;
    quint16 m_port;
    QString m_path;
    QString m_sid;
    int m_timeoutSeconds;
    bool m_splitNotify;
    quint32 m_sequence = 0;
    QDeadlineTimer m_expiry;
    QList<QByteArray> m_queue;
    QTcpSocket *m_socket = nullptr;
    QByteArray m_secondHalf;
    QByteArray m_answer;
    QTimer m_timer;
};

#endif
