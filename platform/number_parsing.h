#pragma once

// Number conversions that behave like the C library's atoi and atof in the "C" locale:
// leading white space is skipped, the longest leading number is taken, and a text that does
// not start with a number gives 0. Independent of the user's locale, so "12.5" is 12.5 for
// everyone, as the stored settings expect.

#include <QString>

namespace platform {

double CStringToDouble(const QString& text);
int CStringToInt(const QString& text);

}  // namespace platform
