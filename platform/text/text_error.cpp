#include "platform/text/text_error.h"

#include "platform/text/text.h"

#include <cstring>
#include <locale.h>

std::u16string SystemErrorText(int error) {
    // The program speaks English, and a front end may have set a locale whose messages are
    // in another language or encoding: the reason is taken in the C locale, as plain ASCII.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    if (cLocale)
        return FromUtf8(strerror_l(error, cLocale));
    char buffer[256];
    // GNU strerror_r: returns the message, which need not be in buffer.
    return FromUtf8(strerror_r(error, buffer, sizeof buffer));
}
