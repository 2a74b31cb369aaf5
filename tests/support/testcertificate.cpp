#include "tests/support/testcertificate.h"

#include "base/settingskeys.h"

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace TestCertificate {

namespace {

// One key for every server certificate; "openssl ca" because only it sets past dates.
const char *Script = R"(set -e
host=$1
authority() {
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$2" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$1.key" -out "$1.crt"
}
sign() {
    name=$1 issuer=$2
    printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=%s\n' "$3" >"$name.ext"
    shift 3
    openssl ca -batch -notext -config ca.cnf -cert "$issuer.crt" -keyfile "$issuer.key" -in server.csr \
        -extfile "$name.ext" -out "$name.crt" "$@"
}
authority ca "Nimbora test CA"
authority stranger "Unknown test CA"
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=Nimbora test server" \
    -keyout server.key -out server.csr
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\ndefault_md=sha256\n' >ca.cnf
printf 'policy=p\nunique_subject=no\n[p]\ncommonName=supplied\n' >>ca.cnf
: >index.txt
echo 01 >serial
sign valid ca "DNS:$host" -days 2
sign wrong-name ca "DNS:elsewhere.example,IP:127.0.0.1" -days 2
sign unknown-authority stranger "DNS:$host" -days 2
sign expired ca "DNS:$host" -startdate 20200101000000Z -enddate 20200102000000Z
)";

struct Made
{
    bool done = false;
    QTemporaryDir dir;
    QMap<Kind, QSslCertificate> certificates;
    QSslKey key;
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
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        return fail(QStringLiteral("openssl is not installed"));
    const QTemporaryDir &dir = made().dir;
    if (!dir.isValid())
        return fail(QStringLiteral("no temporary folder"));
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral("bash"),
        { QStringLiteral("-c"), QLatin1String(Script), QStringLiteral("bash"),
            SettingsKeys::defaultMainServerAddress() });
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(process.readAllStandardError()));
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

QString authorityFile()
{
    return made().dir.filePath(QStringLiteral("ca.crt"));
}

} // namespace TestCertificate
