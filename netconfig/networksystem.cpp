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
    return runProcess(program, arguments, timeout);
}

NetworkSystem::ProgramResult NetworkSystem::runProcess(
    const QString &program, const QStringList &arguments, int timeout, const QByteArray &input)
{
    ProgramResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments, input.isEmpty() ? QIODevice::ReadOnly : QIODevice::ReadWrite);
    if (!process.waitForStarted())
        return result;
    if (!input.isEmpty()) {
        process.write(input);
        process.closeWriteChannel();
    }
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
