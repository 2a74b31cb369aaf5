#include "privileged/openvpn.h"

// A tun device needs no waking up here: OpenVPN brings it up itself.
void OpenVPN::wakeUpInterface() { }
