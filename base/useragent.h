#ifndef NIMBORA_BASE_USERAGENT_H
#define NIMBORA_BASE_USERAGENT_H

#include <QString>

namespace UserAgent {

// What the program sends until the user picks another: a common desktop browser's.
constexpr char Default[] = "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:61.0) Gecko/20100101 Firefox/61.0";

// The User-Agent every request of the program sends: the stored choice, else the default.
// Control characters are removed, so that a stored line break cannot add header lines.
QString configured();

} // namespace UserAgent

#endif
