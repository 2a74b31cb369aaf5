#include "tests/support/streampattern.h"

#include <QSignalSpy>
#include <QSslSocket>

namespace {

constexpr qint64 WriteAhead = 1024 * 1024;
// Prime, so that the pattern does not line up with buffer sizes.
constexpr int Cycle = 251;

} // namespace

QByteArray streamPattern(qint64 offset, int size)
{
    static const QByteArray cycles = [] {
        QByteArray cycle(Cycle, Qt::Uninitialized);
        for (int i = 0; i < Cycle; ++i)
            cycle[i] = char(i);
        return cycle.repeated(1100);
    }();
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const int start = int((offset + bytes.size()) % Cycle);
        bytes.append(cycles.constData() + start, qMin(size - bytes.size(), cycles.size() - start));
    }
    return bytes;
}

StreamWriter::StreamWriter(QIODevice *device, qint64 size) : m_device(device), m_size(size)
{
    connect(device, &QIODevice::bytesWritten, this, &StreamWriter::pump);
    // A TLS socket takes plain bytes at once and holds them encrypted: those count as ahead too.
    if (auto *tls = qobject_cast<QSslSocket *>(device))
        connect(tls, &QSslSocket::encryptedBytesWritten, this, &StreamWriter::pump);
}

void StreamWriter::start()
{
    pump();
}

void StreamWriter::waitUntilStalled()
{
    QSignalSpy spy(this, &StreamWriter::progress);
    while (spy.wait(1000))
        spy.clear();
}

void StreamWriter::pump()
{
    const auto ahead = [this] {
        auto *tls = qobject_cast<QSslSocket *>(m_device);
        return m_device->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
    };
    while (m_written < m_size && ahead() < WriteAhead) {
        const int size = int(qMin<qint64>(64 * 1024, m_size - m_written));
        m_device->write(streamPattern(m_written, size));
        m_written += size;
        emit progress();
    }
}

void StreamChecker::attach(QIODevice *device)
{
    const auto read = [this, device] {
        while (device->bytesAvailable() > 0)
            take(device->read(256 * 1024));
    };
    connect(device, &QIODevice::readyRead, this, read);
    read();
}

void StreamChecker::take(const QByteArray &bytes)
{
    if (bytes != streamPattern(m_received, bytes.size()))
        m_failed = true;
    m_received += bytes.size();
}
