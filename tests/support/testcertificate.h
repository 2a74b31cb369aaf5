#ifndef NIMBORA_TESTS_SUPPORT_TESTCERTIFICATE_H
#define NIMBORA_TESTS_SUPPORT_TESTCERTIFICATE_H

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

// Certificates made once per test process by support/make-test-certificates (or read from the
// folder NIMBORA_TEST_CERTIFICATES names), all for one private key: a test authority, and server
// certificates of each kind a client must tell apart.
namespace TestCertificate {

enum Kind {
    Valid, // for the built-in main-server host name (no address), signed by the test authority
    WrongName, // another host name and 127.0.0.1, signed by the test authority
    UnknownAuthority, // the built-in host name, signed by an authority nobody trusts
    Expired // the built-in host name, signed by the test authority, expired in 2020
};

bool generate(QString *errorString = nullptr);
QSslCertificate certificate(Kind kind = Valid);
QSslKey privateKey();
// The key pin of the server key as openssl computes it (base64 SHA-256 of the public key's DER),
// so that the client's own computation is checked against another's.
QString keyPin();
// The PEM file of the test authority, kept until the process ends.
QString authorityFile();

} // namespace TestCertificate

#endif
