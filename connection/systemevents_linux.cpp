#include "connection/systemevents.h"

// The helper repairs the connection after sleep and network changes: nothing to hear here.
void SystemEvents::startWatching()
{
}

void SystemEvents::stopWatching()
{
}
