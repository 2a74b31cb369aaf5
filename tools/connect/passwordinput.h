#ifndef NIMBORA_TOOLS_CONNECT_PASSWORDINPUT_H
#define NIMBORA_TOOLS_CONNECT_PASSWORDINPUT_H

#include <QByteArray>
#include <QString>

// Where nimbora-connect takes the subscriber's password from. Never the command line: every
// user of the machine can read it in the process list.
class PasswordInput
{
public:
    // A password is one line, and never this long: more is not read.
    static constexpr int MaximumLength = 1024;

    // The first line of a file that is a regular file of the running user which nobody else may
    // read or write, opened without following a link. False with the problem otherwise.
    static bool readFile(const QString &path, QString *password, QString *problem);
    // From the terminal without echo, after a prompt on standard error, when standard input is
    // one; else the first line of standard input.
    static bool readStandardInput(QString *password, QString *problem);

private:
    // The line before the first line break of bytes read until then (a last line may lack one).
    static bool firstLine(const QByteArray &bytes, bool ended, QString *password, QString *problem);
};

#endif
