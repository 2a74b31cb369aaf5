#include "privileged/statedirectory.h"

namespace {

QString &chosenPath()
{
    static QString path;
    return path;
}

} // namespace

QString StateDirectory::path()
{
    return chosenPath().isEmpty() ? defaultPath() : chosenPath();
}

void StateDirectory::setPath(const QString &path)
{
    chosenPath() = path;
}

QString StateDirectory::journalPath()
{
    return path() + QStringLiteral("/undo-journal");
}

QString StateDirectory::lockPath()
{
    return journalPath() + QStringLiteral(".lock");
}

QString StateDirectory::blockPath()
{
    return path() + QStringLiteral("/block");
}
