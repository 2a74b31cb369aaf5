#include "connection/trafficblock.h"

#include "privileged/killswitch.h"
#include "privileged/statedirectory.h"

// The program runs elevated here: the block is its own to read and lift.
bool TrafficBlock::isInPlace()
{
    return KillSwitch(StateDirectory::blockPath()).isInPlace();
}

bool TrafficBlock::lift(QString *errorString)
{
    return KillSwitch(StateDirectory::blockPath()).lift(errorString);
}
