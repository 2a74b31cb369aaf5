#ifndef NIMBORA_CORE_MAINSERVERACCESS_H
#define NIMBORA_CORE_MAINSERVERACCESS_H

#include <QAuthenticator>
#include <QDomElement>
#include <QEventLoop>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QSslError>
#include <QTimer>

class QNetworkAccessManager;

// The client of the main server's API: one GET per call, waited for in a local event loop
// with a 10 s limit, and the XML reply's root element as the result. Used from work threads;
// an instance belongs to the thread that created it and carries one request at a time. Over HTTPS
// no request byte leaves before the certificate is found good for the built-in host name, or its
// key among the pinned ones.
class MainServerAccess : public QObject
{
    Q_OBJECT

public:
    enum Command { Check = 0, Version = 1, Login = 2, Account = 3, Servers = 4, Connection = 5 };
    Q_ENUM(Command)

    // No reply is allowed to hold more than this in memory.
    static constexpr qint64 MaximumReplySize = 8 * 1024 * 1024;
    static constexpr int TimeLimit = 10000;

    explicit MainServerAccess(QObject *parent = nullptr);
    ~MainServerAccess() override;

    // The query goes into the URL as it is; a null element when the request failed.
    QDomElement request(Command command, const QString &query);

    QNetworkReply::NetworkError error() const;
    QString errorString() const;

    // The main server's key pins, as the build-time NIMBORA_MAIN_SERVER_PIN gives them: base64
    // SHA-256 digests of SubjectPublicKeyInfo, separated by semicolons or spaces. Test seam: the
    // built-in value is in force until a test sets another; not for use while requests run.
    static void setPinnedKeys(const QString &pins);

signals:
    void proxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

private slots:
    void proxyAuthenticationRequiredForward(const QNetworkProxy &proxy, QAuthenticator *authenticator);
    void sslErrors(QNetworkReply *reply, const QList<QSslError> &errors);
    void requestFinished(QNetworkReply *reply);
    void requestTimeout();
    void replyReadyRead();

private:
    void refuseCertificate(QNetworkReply *reply, const QString &reason);

    QNetworkAccessManager *m_manager;
    QNetworkReply *m_reply = nullptr;
    QTimer m_timer;
    QNetworkRequest m_request;
    QEventLoop m_loop;
    QNetworkReply::NetworkError m_error = QNetworkReply::NoError;
    QString m_errorString;
    bool m_waiting = false;
    QByteArray m_body;
};

#endif
