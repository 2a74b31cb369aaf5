#ifndef NIMBORA_NETCONFIG_RESOLVERSWITCH_H
#define NIMBORA_NETCONFIG_RESOLVERSWITCH_H

#include "netconfig/networkadapter.h"
#include "netconfig/networksystem.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// Points the system resolver at the VPN's name servers while connected and puts back what was
// there before. On Linux through systemd-resolved, resolvconf or the resolver file itself;
// on Windows the VPN adapter gets its servers by DHCP, so nothing changes there.
// The destructor changes nothing: whoever applied calls restore().
class ResolverSwitch
{
public:
    enum Method { NoMethod, Resolvectl, Resolvconf, ResolvConfFile };

    // Time given to each resolvectl or resolvconf run.
    static constexpr int ProgramTimeout = 5000;
    // A resolver file is a few lines; anything larger is refused rather than read.
    static constexpr qint64 MaximumFileSize = 64 * 1024;

    ResolverSwitch();
    virtual ~ResolverSwitch();

    // Points the system resolver at the servers for the VPN adapter. False with a reason when
    // it cannot, and then nothing is changed. Without a usable server (empty or null
    // addresses) there is nothing to point at: true, nothing changed, isApplied() false.
    // The environment variable NIMBORA_RESOLVER_METHOD ("resolvectl", "resolvconf" or
    // "file") forces a method; any other value is refused.
    bool apply(const NetworkAdapter &vpnAdapter, const QList<QHostAddress> &servers, QString *errorString = nullptr);
    // Puts back what apply() changed; true without doing anything when nothing is applied.
    // A resolver file that someone else has rewritten since is theirs and stays. A failure
    // keeps the switch applied (a later call tries again) and, for the resolver file, leaves
    // the saved copy in place; the reason says where it is.
    bool restore(QString *errorString = nullptr);
    bool isApplied() const { return m_applied; }
    // The method apply() would take on this machine now; NoMethod with a reason when none.
    static Method plannedMethod(QString *errorString = nullptr);
    // Takes over what a run that never restored had applied with that method on that
    // interface, so that restore() undoes it.
    void resume(Method method, const QString &interfaceName);
    // The method of the last apply() that changed something (kept after restore()), else NoMethod.
    Method method() const { return m_method; }
    static QString methodName(Method method);

    // The file the file method rewrites; /etc/resolv.conf unless a test points elsewhere.
    void setResolverFile(const QString &path) { m_resolverFile = path; }
    QString resolverFile() const { return m_resolverFile; }
    // Where the resolver file's previous bytes are kept while they are replaced, so that they
    // survive a crash of the program: the state folder given, else the user's.
    static QString savedCopyPath();
    static void setStateFolder(const QString &folder);

    // The method for a forced name (empty: none forced) and what the machine offers;
    // NoMethod with a reason for an unknown name.
    static Method chooseMethod(
        const QString &forced, bool resolvedRunning, bool resolvconfInstalled, QString *errorString = nullptr);
    // The resolver file while connected: a note naming the saved copy, the servers, then the
    // previous file's search, domain and options lines.
    static QByteArray resolverFileContents(
        const QList<QHostAddress> &servers, const QByteArray &previous, const QString &savedCopy);
    // "nameserver ADDRESS" lines, as resolvconf takes them.
    static QByteArray nameServerLines(const QList<QHostAddress> &servers);
    // Whether a resolver file is one that resolverFileContents() wrote.
    static bool isOwnResolverFile(const QByteArray &contents);

protected:
    // Runs a program to its end with the input on its standard input. Through the network
    // system in use, so that a stand-in system also stands in for these programs.
    virtual NetworkSystem::ProgramResult runProgram(
        const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray());

private:
    Q_DISABLE_COPY(ResolverSwitch)

    // The program run; on failure a reason that names it and its status.
    bool runChecked(
        const QString &program, const QStringList &arguments, const QByteArray &input, QString *errorString);

    bool applyResolvectl(const QList<QHostAddress> &servers, QString *errorString);
    bool applyResolvconf(const QList<QHostAddress> &servers, QString *errorString);
    bool applyResolverFile(const QList<QHostAddress> &servers, QString *errorString);
    bool restoreResolverFile(QString *errorString);
    QString resolvconfRecord() const;

    bool m_applied = false;
    Method m_method = NoMethod;
    QString m_interfaceName;
    QString m_resolverFile;
    QString m_savedCopy;
    QByteArray m_previousContents;
};

#endif
