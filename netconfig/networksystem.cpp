#include "netconfig/networksystem.h"

#include <QProcess>

namespace {
NetworkSystem *replacement = nullptr;
}

NetworkSystem::NetworkSystem(Platform platform) : m_platform(platform) { }

NetworkSystem::~NetworkSystem() = default;

NetworkSystem *NetworkSystem::instance()
{
    return replacement ? replacement : platformSystem();
}

void NetworkSystem::setInstance(NetworkSystem *system)
{
    replacement = system;
}

QString NetworkSystem::errorText(quint32 code) const
{
    return QStringLiteral("error %1").arg(code);
}

NetworkSystem::ProgramResult NetworkSystem::runProgram(
    const QString &program, const QStringList &arguments, int timeout)
{
    ProgramResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return result;
    if (!process.waitForFinished(timeout)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}
