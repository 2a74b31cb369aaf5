#include "tools/service/gatewaysubscription.h"

#include "tools/service/servicelog.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <QUuid>

GatewaySubscription::GatewaySubscription(const QHostAddress &address, quint16 port, const QString &path,
    int timeoutSeconds, bool splitNotify, QObject *parent)
    : QObject(parent),
      m_address(address),
      m_port(port),
      m_path(path),
      m_sid(QStringLiteral("uuid:") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_timeoutSeconds(timeoutSeconds),
      m_splitNotify(splitNotify)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &GatewaySubscription::finish);
    renew();
}

QString GatewaySubscription::callback() const
{
    return QStringLiteral("http://%1:%2%3").arg(m_address.toString()).arg(m_port).arg(m_path);
}

void GatewaySubscription::renew()
{
    m_expiry.setRemainingTime(qint64(m_timeoutSeconds) * 1000);
}

void GatewaySubscription::notify(const QByteArray &propertySet)
{
    if (m_queue.size() >= MaximumQueued) {
        ServiceLog::problem(m_sid + QStringLiteral(": subscriber does not keep up, event dropped"));
        return;
    }
    QByteArray request = "NOTIFY " + m_path.toLatin1() + " HTTP/1.1\r\n";
    request += "HOST: " + m_address.toString().toLatin1() + ':' + QByteArray::number(m_port) + "\r\n";
    request += "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n";
    request += "CONTENT-LENGTH: " + QByteArray::number(propertySet.size()) + "\r\n";
    request += "NT: upnp:event\r\nNTS: upnp:propchange\r\n";
    request += "SID: " + m_sid.toLatin1() + "\r\n";
    request += "SEQ: " + QByteArray::number(m_sequence++) + "\r\n";
    request += "CONNECTION: close\r\n\r\n";
    m_queue.append(request + propertySet);
    if (!m_socket)
        sendNext();
}

void GatewaySubscription::sendNext()
{
    if (m_queue.isEmpty())
        return;
    m_socket = new QTcpSocket(this);
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QTcpSocket::connected, this, &GatewaySubscription::socketConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &GatewaySubscription::socketReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &GatewaySubscription::finish);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &GatewaySubscription::finish);
    m_answer.clear();
    m_timer.start(AnswerTimeout);
    m_socket->connectToHost(m_address, m_port);
}

void GatewaySubscription::socketConnected()
{
    QByteArray request = m_queue.first();
    m_secondHalf.clear();
    const int count = request.indexOf("<PortMappingNumberOfEntries>");
    if (m_splitNotify && count > 0) {
        // Cut inside the element's name: a listener that judges each read alone misses the count.
        m_secondHalf = request.mid(count + 5);
        request.truncate(count + 5);
        QTimer::singleShot(SplitDelay, m_socket, [this] { writeSecondHalf(); });
    }
    m_socket->write(request);
}

void GatewaySubscription::writeSecondHalf()
{
    if (m_socket && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(m_secondHalf);
}

void GatewaySubscription::socketReadyRead()
{
    m_answer += m_socket->read(MaximumAnswer - m_answer.size());
    if (!m_answer.contains("\r\n\r\n") && m_answer.size() < MaximumAnswer)
        return;
    if (!m_answer.startsWith("HTTP/1.1 200") && !m_answer.startsWith("HTTP/1.0 200"))
        ServiceLog::problem(callback()
            + QStringLiteral(": NOTIFY answered with \"%1\"")
                  .arg(QString::fromLatin1(m_answer.left(m_answer.indexOf('\r')))));
    else
        ServiceLog::request(callback() + QStringLiteral(": NOTIFY delivered"));
    m_queue.removeFirst();
    finish();
}

// An answered NOTIFY has left the queue; one that failed is given up as well, as a real
// gateway does, so that a gone subscriber does not hold the events back.
void GatewaySubscription::finish()
{
    if (!m_socket)
        return;
    if (!m_answer.contains("\r\n\r\n") && m_answer.size() < MaximumAnswer && !m_queue.isEmpty()) {
        ServiceLog::problem(callback() + QStringLiteral(": NOTIFY not answered: %1").arg(m_socket->errorString()));
        m_queue.removeFirst();
    }
    m_timer.stop();
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    m_answer.clear();
    sendNext();
}
