#ifndef NIMBORA_TUNNELS_SOCKETWRITE_H
#define NIMBORA_TUNNELS_SOCKETWRITE_H

#include <QtGlobal>

// Writes to a connected socket's descriptor what the system takes at once, without waiting. A write
// through QTcpSocket's own buffer also switches its write notifier on and off, which costs the event
// loop a wake-up each time: on a relay that is most of a small packet's cost. Returns the bytes taken
// (0 when the system's buffer is full), or -1 on an error, which the socket reports itself on its next
// write. A peer that has gone raises no signal.
qint64 writeToSocketDescriptor(qintptr descriptor, const char *data, qint64 size);

#endif
