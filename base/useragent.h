#ifndef NIMBORA_BASE_USERAGENT_H
#define NIMBORA_BASE_USERAGENT_H

#include <QString>

namespace UserAgent {

// What the program sends until the user picks another: a common desktop browser's.
constexpr char Default[] = "Mozilla/5.0 (Windows NT 10.0; Win64; x64; rv:61.0) Gecko/20100101 Firefox/61.0";

// The other browsers the options offer to pass for.
constexpr char InternetExplorer[] = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
                                    "Chrome/64.0.3282.140 Safari/537.36 Edge/17.17134";
constexpr char IPhoneSafari[]
    = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_13_6) AppleWebKit/605.1.15 (KHTML, like Gecko) "
      "Version/11.1.2 Safari/605.1.15";

// The User-Agent every request of the program sends: the stored choice, else the default.
// Control characters are removed, so that a stored line break cannot add header lines.
QString configured();

} // namespace UserAgent

#endif
