#include "netconfig/resolverswitch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <unistd.h>

namespace {

const char MethodVariable[] = "NIMBORA_RESOLVER_METHOD";

QString installedProgram(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    // A user's PATH may leave out the system folders where resolvconf lives.
    return QStandardPaths::findExecutable(name,
        { QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin") });
}

// A program that is not installed still runs by its name, so that its failure is the reason.
QString program(const QString &name)
{
    const QString found = installedProgram(name);
    return found.isEmpty() ? name : found;
}

bool resolvedRunning()
{
    return QFileInfo(QStringLiteral("/run/systemd/resolve")).isDir()
        && !installedProgram(QStringLiteral("resolvectl")).isEmpty();
}

bool syncToDisk(QFile &file)
{
    return file.flush() && ::fsync(file.handle()) == 0;
}

// A new file's name is on disk only once its folder is.
void syncFolder(const QString &path)
{
    const int folder = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    ::fsync(folder);
    ::close(folder);
}

bool readBounded(QFile &file, QByteArray *contents, QString *errorString)
{
    *contents = file.read(ResolverSwitch::MaximumFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        *errorString = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    if (contents->size() > ResolverSwitch::MaximumFileSize) {
        *errorString = QStringLiteral("%1 is larger than %2 KiB")
                           .arg(file.fileName())
                           .arg(ResolverSwitch::MaximumFileSize / 1024);
        return false;
    }
    return true;
}

bool readFile(const QString &path, QByteArray *contents, QString *errorString)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *errorString = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return readBounded(file, contents, errorString);
}

// In place: the resolver file may be a bind mount, which a rename cannot replace, or a
// symbolic link, which must stay one.
bool rewrite(QFile &file, const QByteArray &contents, QString *errorString)
{
    if (file.seek(0) && file.write(contents) == contents.size() && file.resize(contents.size()) && syncToDisk(file))
        return true;
    *errorString = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return false;
}

bool writeSavedCopy(const QString &path, const QByteArray &contents, QString *errorString)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        *errorString = QStringLiteral("cannot create the folder %1 for a copy of the resolver file").arg(folder);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()
        || !syncToDisk(file)) {
        *errorString
            = QStringLiteral("cannot keep a copy of the resolver file in %1: %2").arg(path, file.errorString());
        file.close();
        QFile::remove(path);
        return false;
    }
    file.close();
    syncFolder(folder);
    return true;
}

void setError(QString *errorString, const QString &reason)
{
    if (errorString)
        *errorString = reason;
}

} // namespace

bool ResolverSwitch::apply(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers, QString *errorString)
{
    if (m_applied) {
        setError(errorString, QStringLiteral("the resolver already uses the VPN's servers"));
        return false;
    }
    m_method = NoMethod;
    QString reason;
    const Method chosen = plannedMethod(&reason);
    if (chosen == NoMethod) {
        setError(errorString, reason);
        return false;
    }
    QList<QHostAddress> usable;
    for (const QHostAddress &server : servers) {
        if (!server.isNull())
            usable << server;
    }
    if (usable.isEmpty())
        return true;
    if (chosen != ResolvConfFile && !vpnAdapter.isValid()) {
        setError(errorString, QStringLiteral("no VPN interface to give the name servers to"));
        return false;
    }
    m_interfaceName = vpnAdapter.networkInterface().name();
    bool done = false;
    switch (chosen) {
    case Resolvectl:
        done = applyResolvectl(usable, &reason);
        break;
    case Resolvconf:
        done = applyResolvconf(usable, &reason);
        break;
    case ResolvConfFile:
        done = applyResolverFile(usable, &reason);
        break;
    case NoMethod:
        break;
    }
    if (!done) {
        setError(errorString, reason);
        return false;
    }
    m_method = chosen;
    m_applied = true;
    return true;
}

ResolverSwitch::Method ResolverSwitch::plannedMethod(QString *errorString)
{
    const QString forced = QString::fromLocal8Bit(qgetenv(MethodVariable));
    const bool probe = forced.isEmpty();
    return chooseMethod(forced, probe && resolvedRunning(),
        probe && !installedProgram(QStringLiteral("resolvconf")).isEmpty(), errorString);
}

void ResolverSwitch::resume(Method method, const QString &interfaceName)
{
    m_method = method;
    m_interfaceName = interfaceName;
    m_applied = true;
    if (method != ResolvConfFile)
        return;
    // Without a saved copy the file was never rewritten: nothing to put back.
    m_savedCopy = savedCopyPath();
    QString reason;
    if (!QFile::exists(m_savedCopy) || !readFile(m_savedCopy, &m_previousContents, &reason))
        m_applied = false;
}

bool ResolverSwitch::restore(QString *errorString)
{
    if (!m_applied)
        return true;
    QString reason;
    bool done = false;
    switch (m_method) {
    case Resolvectl:
        done = runChecked(program(QStringLiteral("resolvectl")), { QStringLiteral("revert"), m_interfaceName },
            QByteArray(), &reason);
        break;
    case Resolvconf:
        done = runChecked(
            program(QStringLiteral("resolvconf")), { QStringLiteral("-d"), resolvconfRecord() }, QByteArray(), &reason);
        break;
    case ResolvConfFile:
        done = restoreResolverFile(&reason);
        break;
    case NoMethod:
        done = true;
        break;
    }
    if (!done) {
        setError(errorString, reason);
        return false;
    }
    m_applied = false;
    return true;
}

bool ResolverSwitch::applyResolvectl(const QList<QHostAddress> &servers, QString *errorString)
{
    const QString resolvectl = program(QStringLiteral("resolvectl"));
    QStringList dns { QStringLiteral("dns"), m_interfaceName };
    for (const QHostAddress &server : servers)
        dns << server.toString();
    // "~." makes this link the one for every name, not only for its own domains.
    if (runChecked(resolvectl, dns, QByteArray(), errorString)
        && runChecked(
            resolvectl, { QStringLiteral("domain"), m_interfaceName, QStringLiteral("~.") }, QByteArray(), errorString))
        return true;
    // A run that failed late may have changed the link all the same.
    QString undoError;
    if (!runChecked(resolvectl, { QStringLiteral("revert"), m_interfaceName }, QByteArray(), &undoError))
        *errorString += QStringLiteral("; undoing it failed too: ") + undoError;
    return false;
}

bool ResolverSwitch::applyResolvconf(const QList<QHostAddress> &servers, QString *errorString)
{
    const QString resolvconf = program(QStringLiteral("resolvconf"));
    if (runChecked(resolvconf, { QStringLiteral("-a"), resolvconfRecord() }, nameServerLines(servers), errorString))
        return true;
    QString undoError;
    if (!runChecked(resolvconf, { QStringLiteral("-d"), resolvconfRecord() }, QByteArray(), &undoError))
        *errorString += QStringLiteral("; undoing it failed too: ") + undoError;
    return false;
}

bool ResolverSwitch::applyResolverFile(const QList<QHostAddress> &servers, QString *errorString)
{
    const QString savedCopy = savedCopyPath();
    // Opened for writing before anything else, so that a file we may not change stays as it is.
    QFile file(m_resolverFile);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        *errorString = QStringLiteral("cannot open %1 for writing: %2").arg(m_resolverFile, file.errorString());
        return false;
    }
    QByteArray current;
    if (!readBounded(file, &current, errorString))
        return false;
    QByteArray previous = current;
    // A run that ended without restoring left its copy beside our file: that copy is the
    // file to come back to. Beside anyone else's file it is stale.
    const bool leftOver = isOwnResolverFile(current) && QFile::exists(savedCopy);
    if (leftOver && !readFile(savedCopy, &previous, errorString))
        return false;
    if (!leftOver && !writeSavedCopy(savedCopy, previous, errorString))
        return false;
    if (!rewrite(file, resolverFileContents(servers, previous, savedCopy), errorString)) {
        QString undoError;
        if (!rewrite(file, current, &undoError)) {
            *errorString += QStringLiteral("; putting it back failed too (%1); its previous contents are kept in %2")
                                .arg(undoError, savedCopy);
        } else if (!leftOver) {
            QFile::remove(savedCopy);
        }
        return false;
    }
    m_savedCopy = savedCopy;
    m_previousContents = previous;
    return true;
}

bool ResolverSwitch::restoreResolverFile(QString *errorString)
{
    QFile file(m_resolverFile);
    QByteArray current;
    QString reason;
    bool done = false;
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered)) {
        reason = QStringLiteral("cannot open %1 for writing: %2").arg(m_resolverFile, file.errorString());
    } else if (readBounded(file, &current, &reason)) {
        done = true;
        if (isOwnResolverFile(current))
            done = rewrite(file, m_previousContents, &reason);
        else // the system wrote a newer file meanwhile (a new lease, another network): that one stays
            qInfo("%s was rewritten while connected; it stays as it is", qPrintable(m_resolverFile));
    }
    if (!done) {
        *errorString = QStringLiteral("%1; its previous contents are kept in %2").arg(reason, m_savedCopy);
        return false;
    }
    QFile::remove(m_savedCopy);
    m_previousContents.clear();
    return true;
}
