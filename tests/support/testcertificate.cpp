#include "tests/support/testcertificate.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace TestCertificate {

namespace {

struct Pair
{
    bool made = false;
    QSslCertificate certificate;
    QSslKey key;
};

Pair &pair()
{
    static Pair value;
    return value;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

bool generate(QString *errorString)
{
    if (pair().made)
        return true;
    auto fail = [errorString](const QString &text) {
        if (errorString)
            *errorString = text;
        return false;
    };
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty())
        return fail(QStringLiteral("openssl is not installed"));
    QTemporaryDir dir;
    if (!dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certificatePath = dir.filePath(QStringLiteral("certificate.pem"));
    QProcess process;
    process.start(openssl,
        { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
            QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
            QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certificatePath });
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAllStandardError()));
    const QSslCertificate certificate(readFile(certificatePath), QSsl::Pem);
    const QSslKey key(readFile(keyPath), QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull())
        return fail(QStringLiteral("openssl wrote a certificate or key that Qt cannot read"));
    pair().certificate = certificate;
    pair().key = key;
    pair().made = true;
    return true;
}

QSslCertificate certificate()
{
    return pair().certificate;
}

QSslKey privateKey()
{
    return pair().key;
}

} // namespace TestCertificate
