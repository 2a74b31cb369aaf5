#ifndef NIMBORA_CONNECTION_TRAFFICBLOCK_H
#define NIMBORA_CONNECTION_TRAFFICBLOCK_H

#include <QString>

// The block a connection leaves in place after an unexpected drop, as the window sees it between
// connections: asked of the helper on Linux, read from the state folder where this program has
// the privileges itself.
class TrafficBlock
{
public:
    // True while traffic outside the tunnel is blocked.
    static bool isInPlace();
    // False, with the reason, when the block stays (refused, or the helper cannot be reached).
    static bool lift(QString *errorString);
};

#endif
