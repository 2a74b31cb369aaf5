#ifndef NIMBORA_TESTS_SUPPORT_TESTCERTIFICATE_H
#define NIMBORA_TESTS_SUPPORT_TESTCERTIFICATE_H

#include <QSslCertificate>
#include <QSslKey>

// A self-signed certificate for 127.0.0.1, made once per test process with openssl.
namespace TestCertificate {
bool generate(QString *errorString = nullptr);
QSslCertificate certificate();
QSslKey privateKey();
}

#endif
