#include "tests/support/testcertificate.h"

#include "base/settingskeys.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace TestCertificate {

namespace {

struct Made
{
    bool done = false;
    QTemporaryDir temporary;
    QDir dir;
    QMap<Kind, QSslCertificate> certificates;
    QSslKey key;
    QString keyPin;
};

Made &made()
{
    static Made value;
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
    if (made().done)
        return true;
    auto fail = [errorString](const QString &text) {
        if (errorString)
            *errorString = text;
        return false;
    };
    // Under Wine a Unix program started by a Windows one is never seen to end: the runner makes
    // the certificates beforehand and names their folder.
    const QString given = qEnvironmentVariable("NIMBORA_TEST_CERTIFICATES");
    if (!given.isEmpty()) {
        made().dir.setPath(given);
    } else {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            return fail(QStringLiteral("openssl is not installed"));
        if (!made().temporary.isValid())
            return fail(QStringLiteral("no temporary folder"));
        made().dir.setPath(made().temporary.path());
        QProcess process;
        process.setWorkingDirectory(made().dir.path());
        process.start(QStringLiteral(NIMBORA_TEST_CERTIFICATE_SCRIPT), { SettingsKeys::defaultMainServerAddress() });
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() != 0)
            return fail(QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAllStandardError()));
    }
    const QDir &dir = made().dir;
    const QMap<Kind, QString> files { { Valid, QStringLiteral("valid.crt") },
        { WrongName, QStringLiteral("wrong-name.crt") }, { UnknownAuthority, QStringLiteral("unknown-authority.crt") },
        { Expired, QStringLiteral("expired.crt") } };
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QSslCertificate certificate(readFile(dir.filePath(it.value())), QSsl::Pem);
        if (certificate.isNull())
            return fail(QStringLiteral("openssl wrote a certificate that Qt cannot read: ") + it.value());
        made().certificates.insert(it.key(), certificate);
    }
    made().key = QSslKey(readFile(dir.filePath(QStringLiteral("server.key"))), QSsl::Ec, QSsl::Pem);
    if (made().key.isNull())
        return fail(QStringLiteral("openssl wrote a key that Qt cannot read"));
    made().keyPin = QString::fromLatin1(readFile(dir.filePath(QStringLiteral("server.pin"))).trimmed());
    if (made().keyPin.isEmpty())
        return fail(QStringLiteral("openssl wrote no key pin"));
    made().done = true;
    return true;
}

QSslCertificate certificate(Kind kind)
{
    return made().certificates.value(kind);
}

QSslKey privateKey()
{
    return made().key;
}

QString keyPin()
{
    return made().keyPin;
}

QString authorityFile()
{
    return made().dir.filePath(QStringLiteral("ca.crt"));
}

} // namespace TestCertificate
