#include "privileged/leftoveropenvpn.h"

#include <QFileInfo>

namespace LeftoverOpenVpn {

bool isOurCommandLine(const QList<QByteArray> &arguments)
{
    if (arguments.isEmpty())
        return false;
    const QString program = QFileInfo(QString::fromLocal8Bit(arguments.first())).completeBaseName();
    return program.compare(QLatin1String("openvpn"), Qt::CaseInsensitive) == 0
        && arguments.contains("--management-client") && arguments.contains("--management-query-passwords");
}

} // namespace LeftoverOpenVpn
