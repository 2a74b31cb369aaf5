#ifndef NIMBORA_BASE_USERAGENT_H
#define NIMBORA_BASE_USERAGENT_H

#include <QString>

namespace UserAgent {

// The User-Agent every request of the program sends: the stored choice, else the default.
// Control characters are removed, so that a stored line break cannot add header lines.
QString configured();

} // namespace UserAgent

#endif
