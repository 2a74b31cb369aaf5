// A stand-in for logind on a bus of the tests' or the lab's own: it owns org.freedesktop.login1,
// hands out delay inhibitors (the write end of a pipe, as logind does) and sends PrepareForSleep
// when told.
//
//   fakelogind ADDRESS
//
// Standard input, one command a line: "sleep" sends PrepareForSleep(true), "wake" PrepareForSleep(false).
// Standard output, one line each: "ready" once the name is ours, "inhibit WHAT|WHO|WHY|MODE" for
// each Inhibit call, "released" when a holder closed its inhibitor.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QSocketNotifier>

#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

const QString Path = QStringLiteral("/org/freedesktop/login1");
const QString Interface = QStringLiteral("org.freedesktop.login1.Manager");

void say(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool isClosedByHolder(int readEnd)
{
    pollfd entry { readEnd, POLLIN, 0 };
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & (POLLHUP | POLLIN));
}

} // namespace

class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    explicit FakeLogind(const QDBusConnection &bus) : m_bus(bus) { }

    void command(const QByteArray &line)
    {
        if (line == "sleep" || line == "wake") {
            QDBusMessage signal = QDBusMessage::createSignal(Path, Interface, QStringLiteral("PrepareForSleep"));
            signal << (line == "sleep");
            m_bus.send(signal);
        }
    }

public slots:
    Q_SCRIPTABLE QDBusUnixFileDescriptor Inhibit(
        const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return QDBusUnixFileDescriptor();
        const int readEnd = ends[0];
        auto *notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this, notifier, readEnd] {
            // Nobody writes: readable means every holder has closed its end.
            notifier->setEnabled(false);
            notifier->deleteLater();
            m_held.removeOne(readEnd);
            ::close(readEnd);
            say("released");
        });
        m_held << readEnd;
        const QDBusUnixFileDescriptor handed(ends[1]); // a copy; ours goes
        ::close(ends[1]);
        say(QStringList({ QStringLiteral("inhibit ") + what, who, why, mode }).join(QLatin1Char('|')).toUtf8());
        return handed;
    }

    // The inhibitors whose holders have not closed them yet, as the pipes tell now.
    Q_SCRIPTABLE uint HeldInhibitors()
    {
        uint held = 0;
        for (const int readEnd : qAsConst(m_held))
            held += isClosedByHolder(readEnd) ? 0 : 1;
        return held;
    }

private:
    QDBusConnection m_bus;
    QList<int> m_held;
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fakelogind BUS_ADDRESS\n");
        return 2;
    }
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("logind"));
    FakeLogind logind(bus);
    if (!bus.isConnected() || !bus.registerObject(Path, &logind, QDBusConnection::ExportScriptableSlots)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "fakelogind: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    QByteArray input;
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, &application, [&] {
        char buffer[256];
        const ssize_t length = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (length <= 0) {
            QCoreApplication::quit();
            return;
        }
        input.append(buffer, int(length));
        for (int end = input.indexOf('\n'); end >= 0; end = input.indexOf('\n')) {
            logind.command(input.left(end).trimmed());
            input.remove(0, end + 1);
        }
        if (input.size() > 4096)
            input.clear();
    });
    say("ready");
    return application.exec();
}

#include "fakelogind.moc"
