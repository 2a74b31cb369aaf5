#ifndef SERVICELOG_H
#define SERVICELOG_H

#include <QString>

// Lines on standard error. Problems are always written; every request only with --verbose.
namespace ServiceLog {
void setVerbose(bool verbose);
bool isVerbose();
void problem(const QString &line);
void request(const QString &line);
}

#endif
