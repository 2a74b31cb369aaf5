#include "netconfig/route.h"

bool Route::isValid() const
{
    return !destination.isNull() && !mask.isNull() && !gateway.isNull() && adapter.networkInterface().isValid();
}

bool Route::operator==(const Route &other) const
{
    return destination == other.destination && mask == other.mask && gateway == other.gateway;
}
