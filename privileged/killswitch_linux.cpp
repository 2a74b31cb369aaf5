#include "privileged/killswitch.h"

#include "netconfig/routesocket.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/rtnetlink.h>
#include <netlink/errno.h>
#include <netlink/route/route.h>
#include <nftables/libnftables.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A record is a few hundred bytes; anything much larger is not one of ours.
constexpr qint64 MaximumRecordSize = 64 * 1024;

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int descriptor, const QByteArray &contents)
{
    qint64 written = 0;
    while (written < contents.size()) {
        const ssize_t count = ::write(descriptor, contents.constData() + written, size_t(contents.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        written += count;
    }
    return true;
}

// One libnftables context for one transaction; its messages are kept, never printed.
bool runNft(const QByteArray &commands, QByteArray *output, QString *errorString)
{
    nft_ctx *context = nft_ctx_new(NFT_CTX_DEFAULT);
    if (!context) {
        *errorString = QStringLiteral("nftables cannot be used");
        return false;
    }
    nft_ctx_buffer_output(context);
    nft_ctx_buffer_error(context);
    const bool ran = nft_run_cmd_from_buffer(context, commands.constData()) == 0;
    if (output)
        *output = QByteArray(nft_ctx_get_output_buffer(context));
    if (!ran)
        *errorString = QStringLiteral("nftables: ") + QString::fromUtf8(nft_ctx_get_error_buffer(context)).trimmed();
    nft_ctx_free(context);
    return ran;
}

QByteArray tableCommand(const char *verb)
{
    return QByteArray(verb) + " table inet " + KillSwitchRules::TableName + '\n';
}

// What the kernel listed right after this process last wrote the table, for the script it wrote.
struct WrittenTable
{
    QByteArray script;
    QByteArray listing;
};

WrittenTable &writtenTable()
{
    static WrittenTable table;
    return table;
}

bool writeTable(const KillSwitchRules &rules, QString *errorString)
{
    const QByteArray script = rules.nftablesScript();
    if (!runNft(script, nullptr, errorString))
        return false;
    QByteArray listing;
    QString ignored;
    runNft(tableCommand("list"), &listing, &ignored);
    writtenTable() = { script, listing };
    return true;
}

bool tableIsAsWritten(const KillSwitchRules &rules)
{
    QByteArray listing;
    QString ignored;
    return writtenTable().script == rules.nftablesScript() && runNft(tableCommand("list"), &listing, &ignored)
        && listing == writtenTable().listing;
}

// The two halves of the IPv6 space, unreachable: programs get an error at once and try IPv4.
class UnreachableRoutes
{
public:
    bool addMissing(QString *errorString)
    {
        for (const quint8 firstByte : { quint8(0x00), quint8(0x80) }) {
            bool present = false;
            if (!forEachOurs(
                    firstByte,
                    [&present](rtnl_route *) {
                        present = true;
                        return 0;
                    },
                    errorString))
                return false;
            if (!present && !add(firstByte, errorString))
                return false;
        }
        return true;
    }

    bool removeAll(QString *errorString)
    {
        for (const quint8 firstByte : { quint8(0x00), quint8(0x80) }) {
            if (!forEachOurs(
                    firstByte, [this](rtnl_route *route) { return rtnl_route_delete(m_socket.get(), route, 0); },
                    errorString))
                return false;
        }
        return true;
    }

private:
    static nl_addr *half(quint8 firstByte)
    {
        quint8 bytes[16] = {};
        bytes[0] = firstByte;
        nl_addr *address = nl_addr_build(AF_INET6, bytes, sizeof bytes);
        if (address)
            nl_addr_set_prefixlen(address, 1);
        return address;
    }

    static QString prefix(quint8 firstByte) { return firstByte ? QStringLiteral("8000::/1") : QStringLiteral("::/1"); }

    // Only unreachable routes of exactly that prefix in the main table: another program's route of
    // the same prefix is never ours to take.
    template <typename Action>
    bool forEachOurs(quint8 firstByte, Action action, QString *errorString)
    {
        nl_cache *cache = nullptr;
        nl_addr *wanted = half(firstByte);
        int result = m_socket.get() && wanted ? rtnl_route_alloc_cache(m_socket.get(), AF_INET6, 0, &cache) : -NLE_NOMEM;
        for (nl_object *object = cache ? nl_cache_get_first(cache) : nullptr; object && result >= 0;
             object = nl_cache_get_next(object)) {
            rtnl_route *route = reinterpret_cast<rtnl_route *>(object);
            nl_addr *destination = rtnl_route_get_dst(route);
            if (rtnl_route_get_table(route) == RT_TABLE_MAIN && rtnl_route_get_type(route) == RTN_UNREACHABLE
                && destination && nl_addr_get_prefixlen(destination) == 1 && nl_addr_cmp(destination, wanted) == 0)
                result = action(route);
        }
        if (cache)
            nl_cache_free(cache);
        if (wanted)
            nl_addr_put(wanted);
        if (result < 0)
            *errorString = QStringLiteral("the route unreachable %1: %2").arg(prefix(firstByte), nl_geterror(result));
        return result >= 0;
    }

    bool add(quint8 firstByte, QString *errorString)
    {
        rtnl_route *route = rtnl_route_alloc();
        nl_addr *destination = half(firstByte);
        int result = -NLE_NOMEM;
        if (route && destination && m_socket.get()) {
            rtnl_route_set_family(route, AF_INET6);
            rtnl_route_set_table(route, RT_TABLE_MAIN);
            rtnl_route_set_type(route, RTN_UNREACHABLE);
            rtnl_route_set_protocol(route, RTPROT_STATIC);
            rtnl_route_set_scope(route, RT_SCOPE_UNIVERSE);
            rtnl_route_set_dst(route, destination);
            result = rtnl_route_add(m_socket.get(), route, NLM_F_EXCL);
        }
        if (destination)
            nl_addr_put(destination);
        if (route)
            rtnl_route_put(route);
        if (result < 0)
            *errorString = QStringLiteral("the route unreachable %1: %2").arg(prefix(firstByte), nl_geterror(result));
        return result >= 0;
    }

    const RouteSocket m_socket;
};

} // namespace

KillSwitch::RecordState KillSwitch::readRecord(const QString &path, QByteArray *contents, QString *errorString)
{
    contents->clear();
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0 && errno == ENOENT)
        return RecordState::Absent;
    if (descriptor < 0) {
        *errorString = errno == ELOOP ? QStringLiteral("%1 is a link").arg(path)
                                      : QStringLiteral("%1 cannot be read: %2").arg(path, systemError());
        return RecordState::Refused;
    }
    struct stat status = {};
    const bool isOurs = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid()
        && status.st_size <= MaximumRecordSize;
    QFile file;
    if (isOurs && file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *contents = file.read(MaximumRecordSize + 1);
        return RecordState::Read;
    }
    ::close(descriptor);
    *errorString = QStringLiteral("%1 is not a file of this program's user").arg(path);
    return RecordState::Refused;
}

bool KillSwitch::writeRecord(const QString &path, const QByteArray &contents, QString *errorString)
{
    const QByteArray target = QFile::encodeName(path);
    struct stat status = {};
    if (::lstat(target.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        *errorString = QStringLiteral("%1 is not a file: it is left as it is").arg(path);
        return false;
    }
    // A leftover of a write that never finished is ours to remove; removing a link never follows it.
    const QByteArray temporary = target + ".new";
    ::unlink(temporary.constData());
    const int descriptor
        = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0) {
        *errorString = QStringLiteral("%1 cannot be written: %2").arg(path, systemError());
        return false;
    }
    const bool written = writeAll(descriptor, contents) && ::fsync(descriptor) == 0;
    ::close(descriptor);
    if (!written || ::rename(temporary.constData(), target.constData()) != 0) {
        *errorString = QStringLiteral("%1 cannot be written: %2").arg(path, systemError());
        ::unlink(temporary.constData());
        return false;
    }
    const int folder
        = ::open(QFile::encodeName(QFileInfo(path).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

QString KillSwitch::bootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.read(64)).trimmed() : QString();
}

bool KillSwitch::isThisBoot(const QString &recordedBoot)
{
    return !recordedBoot.isEmpty() && recordedBoot == bootId();
}

bool KillSwitch::putInPlace(const KillSwitchRules &rules, bool *changed, QString *errorString)
{
    *changed = false;
    if (!writeTable(rules, errorString))
        return false;
    *changed = true;
    return UnreachableRoutes().addMissing(errorString);
}

bool KillSwitch::takeAway(QString *errorString)
{
    // Added then deleted in one transaction: gone whether or not it was there.
    if (!runNft(tableCommand("add") + tableCommand("delete"), nullptr, errorString))
        return false;
    writtenTable() = WrittenTable();
    return UnreachableRoutes().removeAll(errorString);
}

bool KillSwitch::putBackWhatIsMissing(const KillSwitchRules &rules, QString *errorString)
{
    if (!tableIsAsWritten(rules) && !writeTable(rules, errorString))
        return false;
    return UnreachableRoutes().addMissing(errorString);
}
