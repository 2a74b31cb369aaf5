#ifndef NIMBORA_PRIVILEGED_OPENVPNMESSAGES_H
#define NIMBORA_PRIVILEGED_OPENVPNMESSAGES_H

#include "privileged/openvpn.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

// What OpenVPN says, on its standard output and on the management channel, and what we answer there.
// Nothing here touches a process or a socket.
class OpenVPNMessages
{
public:
    // What one chunk of standard output tells; a watched text split across two chunks is not recognised.
    struct Output
    {
        QString text; // the chunk as logged
        OpenVPN::Error error = OpenVPN::NoError; // the last failure text present
        QList<int> progress; // the progress steps present, in order
        bool gatewayPushed = false; // a pushed route-gateway, even one that is not an address
        QHostAddress gateway;
        QList<QHostAddress> dnsServers; // pushed IPv4 name servers, each once, in the order given
        bool waitingForInterface = false;
        bool restarting = false; // SIGUSR1
        bool initialized = false;
    };

    static Output readOutput(const QByteArray &chunk);
    // A chunk of either output as logged: Latin-1, cut at its first NUL.
    static QString outputText(const QByteArray &chunk);

    // The management lines that answer the credential prompts found in what OpenVPN sent; empty for none.
    static QByteArray answer(const QByteArray &received, const QString &username, const QString &password,
        const QString &proxyUser, const QString &proxyPassword);
    // keyword "realm" "value", the value cut at its first line break, quoted and escaped, ended by CR LF.
    static QByteArray answerLine(const char *keyword, const char *realm, const QString &value);
};

#endif
