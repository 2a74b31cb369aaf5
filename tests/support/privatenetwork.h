#ifndef NIMBORA_TESTS_SUPPORT_PRIVATENETWORK_H
#define NIMBORA_TESTS_SUPPORT_PRIVATENETWORK_H

#include <QString>

// A network namespace of the test process's own, gone when the process ends. It lets a test
// use addresses from 198.18.0.0/15 on its loopback interface (Qt never sends loopback
// destinations through a proxy) without a packet touching the machine's own network.
namespace PrivateNetwork {

// Call before the first thread starts, from a static initializer: every later thread
// inherits the namespace. False when not root or not supported.
bool enter();
bool entered();
// Brings "lo" up and gives it the address (a /32), with iproute2.
bool addAddress(const QString &address, QString *errorString = nullptr);

} // namespace PrivateNetwork

#endif
