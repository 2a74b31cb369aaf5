#ifndef NIMBORA_CORE_MD5_H
#define NIMBORA_CORE_MD5_H

#include <QString>

// The password digest that the main server receives and the settings keep: the MD5 of the
// UTF-8 bytes of the typed text, as 32 lower-case hexadecimal digits.
QString md5Hex(const QString &text);

#endif
