#include "tools/connect/passwordinput.h"

bool PasswordInput::firstLine(const QByteArray &bytes, bool ended, QString *password, QString *problem)
{
    int end = bytes.indexOf('\n');
    if (end < 0) {
        if (!ended || bytes.size() > MaximumLength) {
            *problem = QStringLiteral("the password is longer than %1 bytes").arg(MaximumLength);
            return false;
        }
        if (bytes.isEmpty()) {
            *problem = QStringLiteral("no password given");
            return false;
        }
        end = bytes.size();
    }
    if (end > MaximumLength) {
        *problem = QStringLiteral("the password is longer than %1 bytes").arg(MaximumLength);
        return false;
    }
    QByteArray line = bytes.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
    return true;
}
