#ifndef NIMBORA_TESTS_TUNNELS_CLIENTHELLO_H
#define NIMBORA_TESTS_TUNNELS_CLIENTHELLO_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// A TLS ClientHello as a client sent it, and the JA3 and JA4 fingerprints by which filtering boxes
// tell clients apart.
class ClientHello
{
public:
    // Reads the hello from the start of a client's stream; false until the whole of it is there
    // (then *malformed tells whether more bytes could still help).
    bool parse(const QByteArray &stream, bool *malformed = nullptr);

    QString ja3Text() const;
    QString ja3() const;
    QString ja4() const;
    // Every field, for a readable difference when two hellos do not match.
    QStringList describe() const;

    quint16 legacyVersion = 0;
    QByteArray sessionId;
    QList<quint16> ciphers;
    QList<quint16> extensions; // in the order sent
    QList<quint16> groups;
    QList<quint16> pointFormats;
    QList<quint16> signatureAlgorithms;
    QList<quint16> supportedVersions;
    QList<quint16> keyShareGroups;
    QStringList alpn;
    QString serverName;
};

#endif
