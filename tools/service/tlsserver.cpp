#include "tools/service/tlsserver.h"

#include "tools/service/servicelog.h"

#include <QFile>
#include <QSslSocket>

TlsServer::TlsServer(QObject *parent) : QTcpServer(parent) { }

bool TlsServer::loadCredentials(const QString &certificateFile, const QString &keyFile, QString *error)
{
    QFile certificate(certificateFile);
    if (!certificate.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read: %2").arg(certificateFile, certificate.errorString());
        return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificate.readAll(), QSsl::Pem);
    if (chain.isEmpty()) {
        *error = QStringLiteral("%1: no PEM certificate in it").arg(certificateFile);
        return false;
    }
    m_certificate = chain.first();

    QFile key(keyFile);
    if (!key.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot read: %2").arg(keyFile, key.errorString());
        return false;
    }
    const QByteArray pem = key.readAll();
    for (const QSsl::KeyAlgorithm algorithm : { QSsl::Rsa, QSsl::Ec }) {
        m_key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!m_key.isNull())
            return true;
    }
    *error = QStringLiteral("%1: no unencrypted PEM RSA or EC private key in it").arg(keyFile);
    return false;
}

void TlsServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setProtocol(QSsl::SecureProtocols);
    connect(socket, &QSslSocket::errorOccurred, socket, [socket](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            ServiceLog::problem(socket->peerAddress().toString() + QStringLiteral(" TLS: ") + socket->errorString());
    });
    socket->startServerEncryption();
    addPendingConnection(socket);
}
