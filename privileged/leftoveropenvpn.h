#ifndef NIMBORA_PRIVILEGED_LEFTOVEROPENVPN_H
#define NIMBORA_PRIVILEGED_LEFTOVEROPENVPN_H

#include <QByteArray>
#include <QList>
#include <QString>

// Ends an OpenVPN of ours that outlived the program that started it. The process id comes from
// the undo journal and may name another program by now: only an openvpn whose command line is
// the one this program gives it is ended. A line for the log says what was done.
QString endLeftoverOpenVpn(qint64 processId);

namespace LeftoverOpenVpn {

// Whether a command line (its arguments) is one of ours: the openvpn program driven through
// our management channel.
bool isOurCommandLine(const QList<QByteArray> &arguments);

} // namespace LeftoverOpenVpn

#endif
