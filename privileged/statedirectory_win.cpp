#include "privileged/statedirectory.h"

#include "netconfig/resolverswitch.h"

#include <QDir>
#include <QFileInfo>

#include <memory>
#include <string>

#include <windows.h>

#include <aclapi.h>
#include <knownfolders.h>
#include <sddl.h>
#include <shlobj.h>

namespace {

// Owned by the administrators, full control for them and SYSTEM only, nothing inherited: users may
// create folders in ProgramData and would otherwise keep rights on ours.
const wchar_t FolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

QString programDataFolder()
{
    PWSTR folder = nullptr;
    QString path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder)))
        path = QDir::fromNativeSeparators(QString::fromWCharArray(folder));
    CoTaskMemFree(folder);
    return path;
}

class FolderHandle
{
public:
    // Opens the folder itself, never what a link or junction in its place points to.
    explicit FolderHandle(const QString &path)
        : m_handle(CreateFileW(nativePath(path).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr))
    { }
    ~FolderHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;

    HANDLE handle() const { return m_handle; }

    bool isPlainFolder() const
    {
        BY_HANDLE_FILE_INFORMATION information = {};
        return m_handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(m_handle, &information)
            && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            && !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }

    static std::wstring nativePath(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }

private:
    HANDLE m_handle;
};

struct SecurityDescriptorFree
{
    void operator()(void *security) const { LocalFree(security); }
};
using SecurityDescriptor = std::unique_ptr<void, SecurityDescriptorFree>;

QString systemError(DWORD error)
{
    return qt_error_string(int(error));
}

bool applySecurity(const QString &path, PSECURITY_DESCRIPTOR security, QString *errorString)
{
    const FolderHandle folder(path);
    if (!folder.isPlainFolder()) {
        *errorString = QStringLiteral("%1 is not a folder").arg(path);
        return false;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL ownerDefaulted = FALSE, daclPresent = FALSE, daclDefaulted = FALSE;
    if (!GetSecurityDescriptorOwner(security, &owner, &ownerDefaulted)
        || !GetSecurityDescriptorDacl(security, &daclPresent, &dacl, &daclDefaulted)) {
        *errorString = QStringLiteral("%1: unreadable security descriptor").arg(path);
        return false;
    }
    const DWORD result = SetSecurityInfo(folder.handle(), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner, nullptr,
        dacl, nullptr);
    if (result != ERROR_SUCCESS) {
        *errorString = QStringLiteral("%1 cannot be secured: %2").arg(path, systemError(result));
        return false;
    }
    return true;
}

// Makes the folder with the security above, or puts that security back on the one there: someone
// may have loosened it since.
bool secureFolder(const QString &path, QString *errorString)
{
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(FolderSecurity, SDDL_REVISION_1, &converted, nullptr)) {
        *errorString = QStringLiteral("%1: no security descriptor: %2").arg(path, systemError(GetLastError()));
        return false;
    }
    const SecurityDescriptor security(converted);
    SECURITY_ATTRIBUTES attributes = { sizeof attributes, security.get(), FALSE };
    if (!CreateDirectoryW(FolderHandle::nativePath(path).c_str(), &attributes)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS) {
            *errorString = QStringLiteral("%1 cannot be made: %2").arg(path, systemError(error));
            return false;
        }
    }
    return applySecurity(path, security.get(), errorString);
}

} // namespace

// The machine's program data folder as Windows knows it; the environment may name any other.
QString StateDirectory::defaultPath()
{
    const QString programData = programDataFolder();
    return programData.isEmpty() ? QString() : programData + QStringLiteral("/Ostrelle/Nimbora");
}

bool StateDirectory::prepare(QString *errorString)
{
    const QString folder = path();
    if (folder.isEmpty()) {
        *errorString = QStringLiteral("The program data folder is unknown");
        return false;
    }
    // Whoever could change the vendor folder could swap ours for one of theirs: it is secured too.
    const QString parent = QFileInfo(folder).path();
    const bool isDefault = folder == defaultPath();
    if (!isDefault && !QDir().mkpath(parent)) {
        *errorString = QStringLiteral("%1 cannot be made").arg(parent);
        return false;
    }
    if ((isDefault && !secureFolder(parent, errorString)) || !secureFolder(folder, errorString))
        return false;
    ResolverSwitch::setStateFolder(folder);
    return true;
}

bool StateDirectory::changesInProcess()
{
    return true;
}
