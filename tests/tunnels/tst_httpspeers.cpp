#include "tests/tunnels/tst_httpspeers.h"

#include "tests/support/testcertificate.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

constexpr qint64 WriteAhead = 1024 * 1024;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool runOpenssl(const QStringList &arguments, const QString &folder, QString *errorString)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStandardPaths::findExecutable(QStringLiteral("openssl")), arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    if (errorString)
        *errorString = QStringLiteral("openssl ") + arguments.first() + QStringLiteral(" failed: ")
            + QString::fromLocal8Bit(process.readAllStandardError());
    return false;
}

// An expired certificate needs openssl's "ca", the only command of openssl 3.0 that takes dates.
bool makeCertificate(const QString &kind, QSslCertificate *certificate, QSslKey *key, QString *errorString)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    const QStringList newKey = { QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
        QStringLiteral("key.pem") };
    if (kind == QLatin1String("wrong name")) {
        if (!runOpenssl(QStringList { QStringLiteral("req"), QStringLiteral("-x509") } + newKey
                    + QStringList { QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                        QStringLiteral("/CN=elsewhere.invalid"), QStringLiteral("-out"), QStringLiteral("cert.pem") },
                folder, errorString))
            return false;
    } else {
        QFile config(dir.filePath(QStringLiteral("ca.cnf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("[ca]\ndefault_ca = d\n[d]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
                     "default_md = sha256\npolicy = p\n[p]\ncommonName = supplied\n");
        config.close();
        QFile(dir.filePath(QStringLiteral("index.txt"))).open(QIODevice::WriteOnly);
        QFile serial(dir.filePath(QStringLiteral("serial")));
        if (!serial.open(QIODevice::WriteOnly))
            return false;
        serial.write("01\n");
        serial.close();
        if (!runOpenssl(QStringList { QStringLiteral("req"), QStringLiteral("-new") } + newKey
                    + QStringList { QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-out"),
                        QStringLiteral("request.csr") },
                folder, errorString)
            || !runOpenssl(
                { QStringLiteral("ca"), QStringLiteral("-batch"), QStringLiteral("-config"), QStringLiteral("ca.cnf"),
                    QStringLiteral("-selfsign"), QStringLiteral("-keyfile"), QStringLiteral("key.pem"),
                    QStringLiteral("-in"), QStringLiteral("request.csr"), QStringLiteral("-startdate"),
                    QStringLiteral("20200101000000Z"), QStringLiteral("-enddate"), QStringLiteral("20200102000000Z"),
                    QStringLiteral("-notext"), QStringLiteral("-out"), QStringLiteral("cert.pem") },
                folder, errorString))
            return false;
    }
    *certificate = QSslCertificate(readFile(dir.filePath(QStringLiteral("cert.pem"))), QSsl::Pem);
    *key = QSslKey(readFile(dir.filePath(QStringLiteral("key.pem"))), QSsl::Ec, QSsl::Pem);
    return !certificate->isNull() && !key->isNull();
}

} // namespace

QByteArray tlsPattern(qint64 offset, int size)
{
    static const QByteArray cycle = [] {
        QByteArray bytes(251, Qt::Uninitialized);
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i);
        return bytes;
    }();
    QByteArray bytes;
    bytes.reserve(size + 251);
    const int start = int(offset % cycle.size());
    bytes += cycle.mid(start);
    while (bytes.size() < size)
        bytes += cycle;
    bytes.truncate(size);
    return bytes;
}

bool TlsPeer::setCertificate(const QString &kind, QString *errorString)
{
    if (kind == QLatin1String("self-signed")) {
        if (!TestCertificate::generate(errorString))
            return false;
        m_certificate = TestCertificate::certificate();
        m_key = TestCertificate::privateKey();
        return true;
    }
    static QHash<QString, QPair<QSslCertificate, QSslKey>> made;
    if (!made.contains(kind)) {
        QSslCertificate certificate;
        QSslKey key;
        if (!makeCertificate(kind, &certificate, &key, errorString))
            return false;
        made.insert(kind, qMakePair(certificate, key));
    }
    m_certificate = made.value(kind).first;
    m_key = made.value(kind).second;
    return true;
}

void TlsPeer::setProtocol(QSsl::SslProtocol protocol)
{
    m_protocol = protocol;
}

void TlsPeer::setMode(Mode mode)
{
    m_mode = mode;
}

void TlsPeer::setStreamSize(qint64 size)
{
    m_streamSize = size;
}

void TlsPeer::setHoldHandshake(bool hold)
{
    m_holdHandshake = hold;
}

void TlsPeer::releaseHandshake()
{
    if (m_socket)
        m_socket->startServerEncryption();
}

void TlsPeer::reset()
{
    m_received.clear();
    m_sent = 0;
    m_disconnected = false;
}

QSslSocket *TlsPeer::socket() const
{
    return m_socket;
}

QByteArray TlsPeer::received() const
{
    return m_received;
}

qint64 TlsPeer::sent() const
{
    return m_sent;
}

bool TlsPeer::disconnected() const
{
    return m_disconnected;
}

void TlsPeer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    delete m_socket;
    m_socket = socket;
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setProtocol(m_protocol);
    if (m_mode == Hold)
        socket->setReadBufferSize(64 * 1024);
    connect(socket, &QSslSocket::readyRead, this, [this, socket] {
        // Before the handshake the bytes are the client's hello, which the handshake still needs.
        if (m_mode != Echo || !socket->isEncrypted())
            return;
        const QByteArray bytes = socket->readAll();
        m_received += bytes;
        socket->write(bytes);
    });
    connect(socket, &QSslSocket::disconnected, this, [this] { m_disconnected = true; });
    if (m_mode == Stream) {
        connect(socket, &QSslSocket::encrypted, this, &TlsPeer::pump);
        connect(socket, &QSslSocket::encryptedBytesWritten, this, &TlsPeer::pump);
    }
    if (!m_holdHandshake)
        socket->startServerEncryption();
}

void TlsPeer::pump()
{
    while (m_socket && m_sent < m_streamSize
        && m_socket->bytesToWrite() + m_socket->encryptedBytesToWrite() < WriteAhead) {
        const int size = int(qMin<qint64>(64 * 1024, m_streamSize - m_sent));
        m_socket->write(tlsPattern(m_sent, size));
        m_sent += size;
        emit progress();
    }
}

QByteArray ConnectProxy::head() const
{
    return m_head;
}

void ConnectProxy::incomingConnection(qintptr socketDescriptor)
{
    auto *client = new QTcpSocket(this);
    client->setSocketDescriptor(socketDescriptor);
    auto *remote = new QTcpSocket(this);
    connect(client, &QTcpSocket::readyRead, this, [this, client, remote] {
        if (remote->state() != QAbstractSocket::UnconnectedState) {
            remote->write(client->readAll());
            return;
        }
        if (!client->canReadLine() || !client->peek(64 * 1024).contains("\r\n\r\n"))
            return;
        const QByteArray all = client->peek(64 * 1024);
        const int end = all.indexOf("\r\n\r\n") + 4;
        m_head = client->read(end);
        const QList<QByteArray> target = m_head.split(' ').value(1).split(':');
        connect(remote, &QTcpSocket::connected, client, [client, remote] {
            client->write("HTTP/1.1 200 Connection established\r\n\r\n");
            remote->write(client->readAll());
        });
        connect(remote, &QTcpSocket::readyRead, client, [client, remote] { client->write(remote->readAll()); });
        connect(remote, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
        connect(client, &QTcpSocket::disconnected, remote, &QTcpSocket::disconnectFromHost);
        remote->connectToHost(QString::fromLatin1(target.value(0)), target.value(1).toUShort());
    });
}

StreamWriter::StreamWriter(QIODevice *device, qint64 size) : m_device(device), m_size(size)
{
    connect(device, &QIODevice::bytesWritten, this, &StreamWriter::pump);
}

void StreamWriter::start()
{
    pump();
}

qint64 StreamWriter::written() const
{
    return m_written;
}

void StreamWriter::pump()
{
    while (m_written < m_size && m_device->bytesToWrite() < WriteAhead) {
        const int size = int(qMin<qint64>(64 * 1024, m_size - m_written));
        m_device->write(tlsPattern(m_written, size));
        m_written += size;
        emit progress();
    }
}

void StreamChecker::attach(QIODevice *device)
{
    m_device = device;
    connect(device, &QIODevice::readyRead, this, &StreamChecker::read);
    read();
}

qint64 StreamChecker::received() const
{
    return m_received;
}

bool StreamChecker::failed() const
{
    return m_failed;
}

void StreamChecker::read()
{
    while (!m_failed && m_device->bytesAvailable() > 0) {
        const QByteArray bytes = m_device->read(256 * 1024);
        if (bytes != tlsPattern(m_received, bytes.size()))
            m_failed = true;
        m_received += bytes.size();
    }
}
