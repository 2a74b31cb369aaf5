#include "tunnels/sockstunnel.h"

#include "tunnels/socksparser.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

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
    : socketDescriptor(socketDescriptor),
      bindAddress(bindAddress),
      clientTcpSocket(new QTcpSocket(this)),
      clientUdpSocket(new QUdpSocket(this)),
      remoteTcpSocket(new QTcpSocket(this)),
      remoteUdpSocket(new QUdpSocket(this))
{
    // The sockets are children, so they follow the tunnel onto its own thread.
    moveToThread(this);

    connect(clientTcpSocket, &QTcpSocket::readyRead, this, &SocksTunnel::clientTcpSocketReadyRead);
    connect(clientTcpSocket, &QTcpSocket::errorOccurred, this, &SocksTunnel::clientTcpSocketError);
    connect(clientTcpSocket, &QTcpSocket::disconnected, this, &SocksTunnel::clientTcpSocketDisconnected);
    connect(clientTcpSocket, &QTcpSocket::bytesWritten, this, &SocksTunnel::clientTcpSocketBytesWritten);
    connect(clientUdpSocket, &QUdpSocket::readyRead, this, &SocksTunnel::clientUdpSocketReadyRead);
    connect(clientUdpSocket, &QUdpSocket::errorOccurred, this, &SocksTunnel::clientUdpSocketError);
    connect(remoteTcpSocket, &QTcpSocket::connected, this, &SocksTunnel::remoteTcpSocketConnected);
    connect(remoteTcpSocket, &QTcpSocket::readyRead, this, &SocksTunnel::remoteTcpSocketReadyRead);
    connect(remoteTcpSocket, &QTcpSocket::errorOccurred, this, &SocksTunnel::remoteTcpSocketError);
    connect(remoteTcpSocket, &QTcpSocket::disconnected, this, &SocksTunnel::remoteTcpSocketDisconnected);
    connect(remoteTcpSocket, &QTcpSocket::bytesWritten, this, &SocksTunnel::remoteTcpSocketBytesWritten);
    connect(remoteUdpSocket, &QUdpSocket::readyRead, this, &SocksTunnel::remoteUdpSocketReadyRead);
    connect(remoteUdpSocket, &QUdpSocket::errorOccurred, this, &SocksTunnel::remoteUdpSocketError);
}

void SocksTunnel::run()
{
    if (clientTcpSocket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        clientTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Bounded reads from the start: a client may send far ahead while its request is still served.
        clientTcpSocket->setReadBufferSize(ReadBufferSize);
        remoteTcpSocket->setReadBufferSize(ReadBufferSize);
        exec();

        remoteUdpSocket->close();
        // What one side sent before the end still reaches the other.
        if (state == Relaying) {
            if (remoteTcpSocket->state() == QAbstractSocket::ConnectedState) {
                remoteTcpSocket->write(clientBuffer);
                remoteTcpSocket->write(clientTcpSocket->readAll());
            }
            if (clientTcpSocket->state() == QAbstractSocket::ConnectedState)
                clientTcpSocket->write(remoteTcpSocket->readAll());
        }
        remoteTcpSocket->disconnectFromHost();
        if (remoteTcpSocket->state() != QAbstractSocket::UnconnectedState)
            remoteTcpSocket->waitForDisconnected(30000);
        remoteTcpSocket->abort();
        clientUdpSocket->close();
        clientTcpSocket->disconnectFromHost();
        if (clientTcpSocket->state() != QAbstractSocket::UnconnectedState)
            clientTcpSocket->waitForDisconnected(30000);
        clientTcpSocket->abort();
    }
    // Back to the main thread, whose event loop carries out the deleteLater() queued by finished().
    moveToThread(QCoreApplication::instance()->thread());
}

void SocksTunnel::clientTcpSocketReadyRead()
{
    if (state != Relaying) {
        readMessages();
    } else if (remoteTcpSocket->state() == QAbstractSocket::ConnectedState) {
        relay(clientTcpSocket, remoteTcpSocket);
    } else {
        // A UDP association: the control connection carries nothing more.
        clientTcpSocket->readAll();
    }
}

void SocksTunnel::clientTcpSocketError(QAbstractSocket::SocketError) { }

void SocksTunnel::clientTcpSocketDisconnected()
{
    quit();
}

void SocksTunnel::clientUdpSocketReadyRead()
{
    while (clientUdpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = clientUdpSocket->receiveDatagram();
        clientUdpAddress = datagram.senderAddress();
        clientUdpPort = quint16(datagram.senderPort());

        const QByteArray data = datagram.data();
        SocksParser::Request header;
        // Short, fragmented or of an unknown address type: dropped.
        if (!SocksParser::parseDatagramHeader(data, &header) || header.command != 0)
            continue;
        const QHostAddress destination
            = header.addressType == SocksParser::DomainName ? resolve(header.hostName) : header.address;
        if (destination.isNull())
            continue;
        remoteUdpSocket->writeDatagram(data.mid(header.length), destination, header.port);
    }
}

void SocksTunnel::clientUdpSocketError(QAbstractSocket::SocketError) { }

void SocksTunnel::remoteTcpSocketConnected()
{
    remoteConnecting = false;
    remoteTcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    sendReply(version == Socks5 ? Socks5Succeeded : Socks4Granted, remoteTcpSocket->localAddress(),
        remoteTcpSocket->localPort());
    startRelaying();
}

void SocksTunnel::remoteTcpSocketReadyRead()
{
    relay(remoteTcpSocket, clientTcpSocket);
}

void SocksTunnel::remoteTcpSocketError(QAbstractSocket::SocketError)
{
    // Only a failed connect matters; a bind failure is answered where it happens, and errors while relaying
    // end in a disconnection.
    if (!remoteConnecting)
        return;
    remoteConnecting = false;
    // The tunnel ends here: nothing the client sent ahead is taken as another request.
    clientBuffer.clear();
    emit log(errorPrefix() + remoteTcpSocket->errorString());
    sendReply(version == Socks5 ? Socks5HostUnreachable : Socks4Rejected, QHostAddress(), 0);
    quit();
}

void SocksTunnel::remoteTcpSocketDisconnected()
{
    quit();
}

void SocksTunnel::remoteUdpSocketReadyRead()
{
    while (remoteUdpSocket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = remoteUdpSocket->receiveDatagram();
        if (clientUdpAddress.isNull())
            continue;
        QByteArray packet("\x00\x00\x00\x01", 4);
        appendIPv4(&packet, datagram.senderAddress());
        appendPort(&packet, quint16(datagram.senderPort()));
        packet.append(datagram.data());
        clientUdpSocket->writeDatagram(packet, clientUdpAddress, clientUdpPort);
    }
}

void SocksTunnel::remoteUdpSocketError(QAbstractSocket::SocketError) { }

void SocksTunnel::clientTcpSocketBytesWritten()
{
    if (state == Relaying)
        relay(remoteTcpSocket, clientTcpSocket);
    else
        readMessages();
}

void SocksTunnel::remoteTcpSocketBytesWritten()
{
    if (state == Relaying)
        relay(clientTcpSocket, remoteTcpSocket);
}

// Takes the greeting and requests out of the client's bytes, each only once all of it has arrived.
void SocksTunnel::readMessages()
{
    for (;;) {
        // While the remote connection is being made, and after a SOCKS 4 request, the client's bytes wait for
        // the relay. A client that does not read its replies gets no more of them until it does.
        if (state == Relaying || remoteConnecting || (state == WaitingRequest && version == Socks4)
            || clientTcpSocket->bytesToWrite() >= MaxPendingBytes)
            return;
        // No message is longer than a few hundred bytes: the buffer stays bounded whatever the client sends.
        if (clientBuffer.size() < ReadBufferSize)
            clientBuffer += clientTcpSocket->read(ReadBufferSize - clientBuffer.size());
        if (clientBuffer.isEmpty())
            return;
        if (!(state == WaitingGreeting ? readGreeting() : readSocks5Request()))
            return;
    }
}

// The first message: a SOCKS 4 request or a SOCKS 5 greeting. Returns false while it is incomplete.
bool SocksTunnel::readGreeting()
{
    const char first = clientBuffer.at(0);
    if (first == 0x04) {
        version = Socks4;
        SocksParser::Request request;
        const SocksParser::Result result = SocksParser::parseSocks4Request(clientBuffer, &request);
        if (result == SocksParser::Incomplete)
            return false;
        state = WaitingRequest;
        if (result == SocksParser::Malformed)
            clientBuffer.clear();
        else
            clientBuffer.remove(0, request.length);

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
        version = Socks5;
        QByteArray methods;
        int length = 0;
        if (SocksParser::parseSocks5Greeting(clientBuffer, &methods, &length) == SocksParser::Incomplete)
            return false;
        clientBuffer.remove(0, length);
        state = WaitingRequest;
        if (methods.contains(NoAuthenticationMethod)) {
            clientTcpSocket->write(QByteArray("\x05\x00", 2));
        } else {
            emit log(QStringLiteral("SOCKS 5 error: No Authentication method required"));
            clientTcpSocket->write(QByteArray("\x05\xff", 2));
        }
        return true;
    }
    emit log(QStringLiteral("SOCKS error: unknown version"));
    clientBuffer.clear();
    quit();
    return false;
}

// Returns false while the request is incomplete. A refused request leaves the tunnel waiting for another.
bool SocksTunnel::readSocks5Request()
{
    SocksParser::Request request;
    const SocksParser::Result result = SocksParser::parseSocks5Request(clientBuffer, &request);
    if (result == SocksParser::Incomplete)
        return false;
    if (result == SocksParser::Malformed) {
        // An address type of unknown length: nothing after it can be framed.
        clientBuffer.clear();
        emit log(QStringLiteral("SOCKS 5 error: does not support IPv6"));
        sendReply(Socks5AddressTypeNotSupported, QHostAddress(), 0);
        return true;
    }
    clientBuffer.remove(0, request.length);

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
        associateUdp(request.port);
    } else {
        emit log(QStringLiteral("SOCKS 5 error: does not support bind command"));
        sendReply(Socks5CommandNotSupported, QHostAddress(), 0);
    }
    return true;
}

void SocksTunnel::connectRemote(const QHostAddress &address, quint16 port)
{
    if (!remoteTcpSocket->bind(bindAddress, 0)) {
        emit log(errorPrefix() + remoteTcpSocket->errorString());
        sendReply(version == Socks5 ? Socks5HostUnreachable : Socks4Rejected, QHostAddress(), 0);
        return;
    }
    remoteConnecting = true;
    remoteTcpSocket->connectToHost(address, port);
}

void SocksTunnel::associateUdp(quint16 port)
{
    if (!clientUdpSocket->bind(clientTcpSocket->localAddress(), 0)) {
        emit log(errorPrefix() + clientUdpSocket->errorString());
        sendReply(Socks5GeneralFailure, QHostAddress(), 0);
        return;
    }
    if (!remoteUdpSocket->bind(bindAddress, port) && !remoteUdpSocket->bind(bindAddress, 0)) {
        emit log(errorPrefix() + remoteUdpSocket->errorString());
        clientUdpSocket->close();
        sendReply(Socks5GeneralFailure, QHostAddress(), 0);
        return;
    }
    sendReply(Socks5Succeeded, clientUdpSocket->localAddress(), clientUdpSocket->localPort());
    state = Relaying;
}

void SocksTunnel::startRelaying()
{
    state = Relaying;
    // Bytes that the client sent ahead of the reply go first, in order.
    remoteTcpSocket->write(clientBuffer);
    clientBuffer.clear();
    relay(clientTcpSocket, remoteTcpSocket);
    relay(remoteTcpSocket, clientTcpSocket);
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
    const QAbstractSocket::NetworkLayerProtocol wanted = bindAddress.protocol() == QAbstractSocket::IPv6Protocol
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
    if (version == Socks4) {
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
    clientTcpSocket->write(reply);
}

QString SocksTunnel::errorPrefix() const
{
    return version == Socks5 ? QStringLiteral("SOCKS 5 error: ") : QStringLiteral("SOCKS 4 error: ");
}
