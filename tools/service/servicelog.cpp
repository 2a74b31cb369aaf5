#include "tools/service/servicelog.h"

#include <QTime>

#include <cstdio>

namespace {
bool verboseOutput = false;

void write(const QString &line)
{
    const QByteArray text = QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")).toUtf8() + line.toUtf8();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
}
} // namespace

namespace ServiceLog {

void setVerbose(bool verbose)
{
    verboseOutput = verbose;
}

void problem(const QString &line)
{
    write(line);
}

void request(const QString &line)
{
    if (verboseOutput)
        write(line);
}

} // namespace ServiceLog
