#ifndef NIMBORA_TOOLS_SERVICE_SERVICELOG_H
#define NIMBORA_TOOLS_SERVICE_SERVICELOG_H

#include <QString>

// Lines on standard error. Problems are always written; every request only with --verbose.
namespace ServiceLog {
void setVerbose(bool verbose);
void problem(const QString &line);
void request(const QString &line);
}

#endif
