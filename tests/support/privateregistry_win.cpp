#include "tests/support/privateregistry.h"

#include <QUuid>

#include <cstdlib>

#include <windows.h>

namespace PrivateRegistry {

namespace {

HKEY privateRoot = nullptr;
std::wstring privatePath;

void leave()
{
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(privateRoot);
    RegDeleteTreeW(HKEY_CURRENT_USER, privatePath.c_str());
}

QString failure(const char *what, LSTATUS status)
{
    return QStringLiteral("%1: error %2").arg(QLatin1String(what)).arg(status);
}

} // namespace

bool enter(QString *errorString)
{
    privatePath = (QStringLiteral("Software\\Nimbora tests ") + QUuid::createUuid().toString()).toStdWString();
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, privatePath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
        KEY_ALL_ACCESS, nullptr, &privateRoot, nullptr);
    if (status != ERROR_SUCCESS) {
        *errorString = failure("RegCreateKeyEx", status);
        return false;
    }
    status = RegOverridePredefKey(HKEY_CURRENT_USER, privateRoot);
    if (status != ERROR_SUCCESS) {
        *errorString = failure("RegOverridePredefKey", status);
        RegCloseKey(privateRoot);
        RegDeleteTreeW(HKEY_CURRENT_USER, privatePath.c_str());
        return false;
    }
    std::atexit(leave);
    return true;
}

} // namespace PrivateRegistry
