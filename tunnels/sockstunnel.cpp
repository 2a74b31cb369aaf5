#include "tunnels/sockstunnel.h"

#include "tunnels/interfacebinding.h"
#include "tunnels/socksparser.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <atomic>

namespace {

const quint8 Socks5Succeeded = 0;
const quint8 Socks5GeneralFailure = 1;
const quint8 Socks5HostUnreachable = 4;
const quint8 Socks5CommandNotSupported = 7;
const quint8 Socks5AddressTypeNotSupported = 8;
const quint8 Socks4Granted = 90;
const quint8 Socks4Rejected = 91;
const quint8 ConnectCommand = 1;
const quint8 UdpAssociateCommand = 3;
const char NoAuthenticationMethod = 0x00;

std::atomic<int> handshakeTimeLimit { SocksTunnel::HandshakeTimeLimit };

void appendPort(QByteArray *bytes, quint16 port)
{
    bytes->append(char(port >> 8));
    bytes->append(char(port & 0xff));
}

void appendIPv4(QByteArray *bytes, const QHostAddress &address)
{
    // A null or IPv6 address goes out as 0.0.0.0.
    const quint32 ip = address.protocol() == QAbstractSocket::IPv4Protocol ? address.toIPv4Address() : 0;
    bytes->append(char(ip >> 24));
    bytes->append(char((ip >> 16) & 0xff));
    bytes->append(char((ip >> 8) & 0xff));
    bytes->append(char(ip & 0xff));
}

} // namespace

SocksTunnel::SocksTunnel(qintptr socketDescriptor, const QHostAddress &bindAddress)
    : m_socketDescriptor(socketDescriptor),
      m_bindAddress(bindAddress),
      m_clientTcpSocket(new QTcpSocket(this)),
      m_clientUdpSocket(new QUdpSocket(this)),
      m_remoteTcpSocket(new QTcpSocket(this)),
      m_remoteUdpSocket(new QUdpSocket(this))
{
    // The sockets are children, so they follow the tunnel onto its own thread.
    moveToThread(this);

    connect(m_clientTcpSocket, &QTcpSocket::readyRead, this, &SocksTunnel::clientTcpSocketReadyRead);
    connect(m_clientTcpSocket, &QTcpSocket::errorOccurred, this, &SocksTunnel::clientTcpSocketError);
    connect(m_clientTcpSocket, &QTcpSocket::disconnected, this, &SocksTunnel::clientTcpSocketDisconnected);
    connect(m_clientTcpSocket, &QTcpSocket::bytesWritten, this, &SocksTunnel::clientTcpSocketBytesWritten);
    connect(m_clientUdpSocket, &QUdpSocket::readyRead, this, &SocksTunnel::clientUdpSocketReadyRead);
    connect(m_clientUdpSocket, &QUdpSocket::errorOccurred, this, &SocksTunnel::clientUdpSocketError);
    connect(m_remoteTcpSocket, &QTcpSocket::connected, this, &SocksTunnel::remoteTcpSocketConnected);
    connect(m_remoteTcpSocket, &QTcpSocket::readyRead, this, &SocksTunnel::remoteTcpSocketReadyRead);
    connect(m_remoteTcpSocket, &QTcpSocket::errorOccurred, this, &SocksTunnel::remoteTcpSocketError);
    connect(m_remoteTcpSocket, &QTcpSocket::disconnected, this, &SocksTunnel::remoteTcpSocketDisconnected);
    connect(m_remoteTcpSocket, &QTcpSocket::bytesWritten, this, &SocksTunnel::remoteTcpSocketBytesWritten);
    connect(m_remoteUdpSocket, &QUdpSocket::readyRead, this, &SocksTunnel::remoteUdpSocketReadyRead);
    connect(m_remoteUdpSocket, &QUdpSocket::errorOccurred, this, &SocksTunnel::remoteUdpSocketError);
}

void SocksTunnel::setHandshakeTimeLimit(int msec)
{
    handshakeTimeLimit = msec;
}

void SocksTunnel::run()
{
    if (m_clientTcpSocket->setSocketDescriptor(
            m_socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        m_clientTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Bounded reads from the start: a client may send far ahead while its request is still served.
        m_clientTcpSocket->setReadBufferSize(ReadBufferSize);
        m_remoteTcpSocket->setReadBufferSize(ReadBufferSize);
        QTimer handshakeTimer;
        handshakeTimer.setSingleShot(true);
        connect(&handshakeTimer, &QTimer::timeout, this, &SocksTunnel::handshakeTimedOut);
        handshakeTimer.start(handshakeTimeLimit);
        exec();

        m_remoteUdpSocket->close();
        // What one side sent before the end still reaches the other.
        if (m_state == Relaying) {
            if (m_remoteTcpSocket->state() == QAbstractSocket::ConnectedState) {
                m_remoteTcpSocket->write(m_clientBuffer);
                m_remoteTcpSocket->write(m_clientTcpSocket->readAll());
            }
            if (m_clientTcpSocket->state() == QAbstractSocket::ConnectedState)
                m_clientTcpSocket->write(m_remoteTcpSocket->readAll());
        }
        m_remoteTcpSocket->disconnectFromHost();
        if (m_remoteTcpSocket->state() != QAbstractSocket::UnconnectedState)
            m_remoteTcpSocket->waitForDisconnected(30000);
        m_remoteTcpSocket->abort();
        m_clientUdpSocket->close();
        m_clientTcpSocket->disconnectFromHost();
        if (m_clientTcpSocket->state() != QAbstractSocket::UnconnectedState)
            m_clientTcpSocket->waitForDisconnected(30000);
        m_clientTcpSocket->abort();
    }
    // Back to the main thread, whose event loop carries out the deleteLater() queued by finished().
    moveToThread(QCoreApplication::instance()->thread());
}

void SocksTunnel::handshakeTimedOut()
{
    // A request that is being connected or relayed is complete.
    if (m_state == Relaying || m_remoteConnecting)
        return;
    emit log(QStringLiteral("SOCKS error: no complete request in time"));
    m_clientTcpSocket->abort();
    quit();
}

void SocksTunnel::clientTcpSocketReadyRead()
{
    if (m_state != Relaying) {
        readMessages();
    } else if (m_remoteTcpSocket->state() == QAbstractSocket::ConnectedState) {
        relay(m_clientTcpSocket, m_remoteTcpSocket);
    } else {
        // A UDP association: the control connection carries nothing more.
        m_clientTcpSocket->readAll();
    }
}

void SocksTunnel::clientTcpSocketError(QAbstractSocket::SocketError) { }

void SocksTunnel::clientTcpSocketDisconnected()
{
    quit();
}

void SocksTunnel::clientUdpSocketReadyRead()
{
    while (m_clientUdpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_clientUdpSocket->receiveDatagram();
        m_clientUdpAddress = datagram.senderAddress();
        m_clientUdpPort = quint16(datagram.senderPort());

        const QByteArray data = datagram.data();
        SocksParser::Request header;
        // Short, fragmented or of an unknown address type: dropped.
        if (!SocksParser::parseDatagramHeader(data, &header) || header.command != 0)
            continue;
        const QHostAddress destination
            = header.addressType == SocksParser::DomainName ? resolve(header.hostName) : header.address;
        if (destination.isNull())
            continue;
        m_remoteUdpSocket->writeDatagram(data.mid(header.length), destination, header.port);
    }
}

void SocksTunnel::clientUdpSocketError(QAbstractSocket::SocketError) { }

void SocksTunnel::remoteTcpSocketConnected()
{
    m_remoteConnecting = false;
    m_remoteTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    sendReply(m_version == Socks5 ? Socks5Succeeded : Socks4Granted, m_remoteTcpSocket->localAddress(),
        m_remoteTcpSocket->localPort());
    startRelaying();
}

void SocksTunnel::remoteTcpSocketReadyRead()
{
    relay(m_remoteTcpSocket, m_clientTcpSocket);
}

void SocksTunnel::remoteTcpSocketError(QAbstractSocket::SocketError)
{
    // Only a failed connect matters; a bind failure is answered where it happens, and errors while relaying
    // end in a disconnection.
    if (!m_remoteConnecting)
        return;
    m_remoteConnecting = false;
    // The tunnel ends here: nothing the client sent ahead is taken as another request.
    m_clientBuffer.clear();
    emit log(errorPrefix() + m_remoteTcpSocket->errorString());
    sendReply(m_version == Socks5 ? Socks5HostUnreachable : Socks4Rejected, QHostAddress(), 0);
    quit();
}

void SocksTunnel::remoteTcpSocketDisconnected()
{
    quit();
}

void SocksTunnel::remoteUdpSocketReadyRead()
{
    while (m_remoteUdpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_remoteUdpSocket->receiveDatagram();
        if (m_clientUdpAddress.isNull())
            continue;
        const QByteArray packet
            = SocksParser::datagramHeader(datagram.senderAddress(), quint16(datagram.senderPort())) + datagram.data();
        m_clientUdpSocket->writeDatagram(packet, m_clientUdpAddress, m_clientUdpPort);
    }
}

void SocksTunnel::remoteUdpSocketError(QAbstractSocket::SocketError) { }

void SocksTunnel::clientTcpSocketBytesWritten()
{
    if (m_state == Relaying)
        relay(m_remoteTcpSocket, m_clientTcpSocket);
    else
        readMessages();
}

void SocksTunnel::remoteTcpSocketBytesWritten()
{
    if (m_state == Relaying)
        relay(m_clientTcpSocket, m_remoteTcpSocket);
}

// Takes the greeting and requests out of the client's bytes, each only once all of it has arrived.
void SocksTunnel::readMessages()
{
    for (;;) {
        // While the remote connection is being made, and after a SOCKS 4 request, the client's bytes wait for
        // the relay. A client that does not read its replies gets no more of them until it does.
        if (m_state == Relaying || m_remoteConnecting || (m_state == WaitingRequest && m_version == Socks4)
            || m_clientTcpSocket->bytesToWrite() >= MaxPendingBytes)
            return;
        // No message is longer than a few hundred bytes: the buffer stays bounded whatever the client sends.
        if (m_clientBuffer.size() < ReadBufferSize)
            m_clientBuffer += m_clientTcpSocket->read(ReadBufferSize - m_clientBuffer.size());
        if (m_clientBuffer.isEmpty())
            return;
        if (!(m_state == WaitingGreeting ? readGreeting() : readSocks5Request()))
            return;
    }
}

// The first message: a SOCKS 4 request or a SOCKS 5 greeting. Returns false while it is incomplete.
bool SocksTunnel::readGreeting()
{
    const char first = m_clientBuffer.at(0);
    if (first == 0x04) {
        m_version = Socks4;
        SocksParser::Request request;
        const SocksParser::Result result = SocksParser::parseSocks4Request(m_clientBuffer, &request);
        if (result == SocksParser::Incomplete)
            return false;
        m_state = WaitingRequest;
        if (result == SocksParser::Malformed)
            m_clientBuffer.clear();
        else
            m_clientBuffer.remove(0, request.length);

        if (request.command != ConnectCommand) {
            emit log(QStringLiteral("SOCKS 4 error: does not support bind command"));
            sendReply(Socks4Rejected, QHostAddress(), 0);
            return true;
        }
        if (result == SocksParser::Malformed) {
            emit log(QStringLiteral("SOCKS 4 error: unknown protocol"));
            sendReply(Socks4Rejected, QHostAddress(), 0);
            return true;
        }
        QHostAddress address = request.address;
        if (request.addressType == SocksParser::DomainName) {
            address = resolve(request.hostName);
            if (address.isNull()) {
                emit log(QStringLiteral("SOCKS 4 error: host not found"));
                sendReply(Socks4Rejected, QHostAddress(), 0);
                return true;
            }
        }
        connectRemote(address, request.port);
        return true;
    }
    if (first == 0x05) {
        m_version = Socks5;
        QByteArray methods;
        int length = 0;
        if (SocksParser::parseSocks5Greeting(m_clientBuffer, &methods, &length) == SocksParser::Incomplete)
            return false;
        m_clientBuffer.remove(0, length);
        m_state = WaitingRequest;
        if (methods.contains(NoAuthenticationMethod)) {
            m_clientTcpSocket->write(QByteArray("\x05\x00", 2));
        } else {
            emit log(QStringLiteral("SOCKS 5 error: No Authentication method required"));
            m_clientTcpSocket->write(QByteArray("\x05\xff", 2));
        }
        return true;
    }
    emit log(QStringLiteral("SOCKS error: unknown version"));
    m_clientBuffer.clear();
    quit();
    return false;
}

// Returns false while the request is incomplete. A refused request leaves the tunnel waiting for another.
bool SocksTunnel::readSocks5Request()
{
    SocksParser::Request request;
    const SocksParser::Result result = SocksParser::parseSocks5Request(m_clientBuffer, &request);
    if (result == SocksParser::Incomplete)
        return false;
    if (result == SocksParser::Malformed) {
        // An address type of unknown length: nothing after it can be framed.
        m_clientBuffer.clear();
        emit log(QStringLiteral("SOCKS 5 error: does not support IPv6"));
        sendReply(Socks5AddressTypeNotSupported, QHostAddress(), 0);
        return true;
    }
    m_clientBuffer.remove(0, request.length);

    QHostAddress address = request.address;
    if (request.addressType == SocksParser::IPv6Address) {
        emit log(QStringLiteral("SOCKS 5 error: does not support IPv6"));
        sendReply(Socks5AddressTypeNotSupported, QHostAddress(), 0);
        return true;
    }
    if (request.addressType == SocksParser::DomainName) {
        address = resolve(request.hostName);
        if (address.isNull()) {
            emit log(QStringLiteral("SOCKS 5 error: host not found"));
            sendReply(Socks5HostUnreachable, QHostAddress(), 0);
            return true;
        }
    }

    if (request.command == ConnectCommand) {
        connectRemote(address, request.port);
    } else if (request.command == UdpAssociateCommand) {
        associateUdp();
    } else {
        emit log(QStringLiteral("SOCKS 5 error: does not support bind command"));
        sendReply(Socks5CommandNotSupported, QHostAddress(), 0);
    }
    return true;
}

void SocksTunnel::connectRemote(const QHostAddress &address, quint16 port)
{
    if (!m_remoteTcpSocket->bind(m_bindAddress, 0)) {
        emit log(errorPrefix() + m_remoteTcpSocket->errorString());
        sendReply(m_version == Socks5 ? Socks5HostUnreachable : Socks4Rejected, QHostAddress(), 0);
        return;
    }
    if (!bindToAddressInterface(m_remoteTcpSocket, m_bindAddress)) {
        emit log(
            errorPrefix() + QStringLiteral("cannot keep the connection on the adapter of ") + m_bindAddress.toString());
        sendReply(m_version == Socks5 ? Socks5HostUnreachable : Socks4Rejected, QHostAddress(), 0);
        return;
    }
    m_remoteConnecting = true;
    m_remoteTcpSocket->connectToHost(address, port);
}

// The port the client names is where its own datagrams come from; the way out takes any free port, since
// binding the asked one would hand a local client privileged ports on the adapter's address.
void SocksTunnel::associateUdp()
{
    if (!m_clientUdpSocket->bind(m_clientTcpSocket->localAddress(), 0)) {
        emit log(errorPrefix() + m_clientUdpSocket->errorString());
        sendReply(Socks5GeneralFailure, QHostAddress(), 0);
        return;
    }
    if (!m_remoteUdpSocket->bind(m_bindAddress, 0) || !bindToAddressInterface(m_remoteUdpSocket, m_bindAddress)) {
        emit log(errorPrefix() + m_remoteUdpSocket->errorString());
        m_clientUdpSocket->close();
        sendReply(Socks5GeneralFailure, QHostAddress(), 0);
        return;
    }
    sendReply(Socks5Succeeded, m_clientUdpSocket->localAddress(), m_clientUdpSocket->localPort());
    m_state = Relaying;
}

void SocksTunnel::startRelaying()
{
    m_state = Relaying;
    // Bytes that the client sent ahead of the reply go first, in order.
    m_remoteTcpSocket->write(m_clientBuffer);
    m_clientBuffer.clear();
    relay(m_clientTcpSocket, m_remoteTcpSocket);
    relay(m_remoteTcpSocket, m_clientTcpSocket);
}

// Whole buffers at a time, but only while the receiving side keeps up; its bytesWritten() resumes the relay.
void SocksTunnel::relay(QTcpSocket *from, QTcpSocket *to)
{
    if (from->bytesAvailable() > 0 && to->bytesToWrite() < MaxPendingBytes)
        to->write(from->readAll());
}

// The tunnel speaks IPv4 only (replies, datagram headers, the bound address), so an IPv4 address is
// taken first. Literal addresses are used as they are: a lookup would only ask for their names.
QHostAddress SocksTunnel::resolve(const QByteArray &name) const
{
    if (name.isEmpty() || name.contains('\0'))
        return QHostAddress();
    const QString hostName = QString::fromUtf8(name);
    QHostAddress literal;
    if (literal.setAddress(hostName))
        return literal;
    const QHostInfo info = QHostInfo::fromName(hostName);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        return QHostAddress();
    const QAbstractSocket::NetworkLayerProtocol wanted = m_bindAddress.protocol() == QAbstractSocket::IPv6Protocol
        ? QAbstractSocket::IPv6Protocol
        : QAbstractSocket::IPv4Protocol;
    const QList<QHostAddress> addresses = info.addresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == wanted)
            return address;
    }
    return addresses.first();
}

void SocksTunnel::sendReply(quint8 code, const QHostAddress &address, quint16 port)
{
    QByteArray reply;
    if (m_version == Socks4) {
        reply.append(char(0x00));
        reply.append(char(code));
        appendPort(&reply, port);
        appendIPv4(&reply, address);
    } else {
        reply.append(char(0x05));
        reply.append(char(code));
        reply.append(char(0x00));
        reply.append(char(0x01));
        appendIPv4(&reply, address);
        appendPort(&reply, port);
    }
    m_clientTcpSocket->write(reply);
}

QString SocksTunnel::errorPrefix() const
{
    return m_version == Socks5 ? QStringLiteral("SOCKS 5 error: ") : QStringLiteral("SOCKS 4 error: ");
}
