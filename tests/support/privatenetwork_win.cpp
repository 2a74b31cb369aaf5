#include "tests/support/privatenetwork.h"

// Windows has no network namespaces: the tests take their fake systems instead.
namespace PrivateNetwork {

bool enter()
{
    return false;
}

bool entered()
{
    return false;
}

bool addAddress(const QString &, QString *errorString)
{
    if (errorString)
        *errorString = QStringLiteral("no private network namespace on Windows");
    return false;
}

} // namespace PrivateNetwork
