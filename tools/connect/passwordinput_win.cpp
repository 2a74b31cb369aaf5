#include "tools/connect/passwordinput.h"

#include <cstdio>
#include <windows.h>

bool PasswordInput::readFile(const QString &path, QString *password, QString *problem)
{
    Q_UNUSED(password)
    // Who else may read a file is in its access list here; until that is checked, no file is trusted.
    *problem = QStringLiteral("--password-file is not available on Windows (%1): give the password on standard input")
                   .arg(path);
    return false;
}

bool PasswordInput::readStandardInput(QString *password, QString *problem)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD savedMode = 0;
    const bool console = GetConsoleMode(input, &savedMode);
    if (console) {
        SetConsoleMode(input, savedMode & ~DWORD(ENABLE_ECHO_INPUT));
        fputs("Password: ", stderr);
        fflush(stderr);
    }
    char buffer[MaximumLength + 2];
    const bool read = fgets(buffer, sizeof buffer, stdin) != nullptr;
    if (console) {
        SetConsoleMode(input, savedMode);
        fputs("\n", stderr);
    }
    const QByteArray bytes = read ? QByteArray(buffer) : QByteArray();
    return firstLine(bytes, read ? bytes.contains('\n') || feof(stdin) : true, password, problem);
}
