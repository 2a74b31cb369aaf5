#ifndef NIMBORA_TESTS_SUPPORT_PRIVATEREGISTRY_H
#define NIMBORA_TESTS_SUPPORT_PRIVATEREGISTRY_H

#include <QString>

// Windows: HKEY_CURRENT_USER becomes, for this process alone, a key of the test's own, so that
// the settings keep the registry's format without touching the user's. The key is deleted when
// the process ends.
namespace PrivateRegistry {
bool enter(QString *errorString);
}

#endif
