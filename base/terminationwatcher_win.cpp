#include "base/terminationwatcher.h"

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent) { }

TerminationWatcher::~TerminationWatcher() = default;

void TerminationWatcher::readSignal() { }
