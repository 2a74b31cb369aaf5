#include "privileged/leftoveropenvpn.h"

// On Windows OpenVPN runs in a job that ends with the program, so none outlives it.
QString endLeftoverOpenVpn(qint64 processId)
{
    Q_UNUSED(processId)
    return QString();
}
