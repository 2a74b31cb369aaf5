#ifndef NIMBORA_TESTS_SUPPORT_STREAMPATTERN_H
#define NIMBORA_TESTS_SUPPORT_STREAMPATTERN_H

#include <QByteArray>
#include <QIODevice>
#include <QObject>

// Long streams through a relay: bytes whose value depends on their place in the stream, so that a
// lost, doubled or misplaced byte shows.
QByteArray streamPattern(qint64 offset, int size);

// Writes size bytes of the pattern to a socket (TLS ones included), never more than 1 MiB ahead of
// what it sends, so that a relay that stops reading holds the writer back.
class StreamWriter : public QObject
{
    Q_OBJECT

public:
    StreamWriter(QIODevice *device, qint64 size);
    void start();
    qint64 written() const { return m_written; }
    // Returns once nothing was written for a second: the stream stands still or is all out.
    void waitUntilStalled();

signals:
    void progress();

private:
    void pump();

    QIODevice *m_device;
    qint64 m_size;
    qint64 m_written = 0;
};

// Checks a stream of the pattern as it arrives, from a device or in pieces handed over.
class StreamChecker : public QObject
{
public:
    void attach(QIODevice *device);
    void take(const QByteArray &bytes);
    qint64 received() const { return m_received; }
    bool failed() const { return m_failed; }

private:
    qint64 m_received = 0;
    bool m_failed = false;
};

#endif
