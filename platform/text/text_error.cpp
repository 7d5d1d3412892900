#include "platform/text/text_error.h"

#include "platform/text/text.h"

#include <cstring>

std::u16string SystemErrorText(int error) {
    char buffer[256];
    // GNU strerror_r: returns the message, which need not be in buffer.
    return FromUtf8(strerror_r(error, buffer, sizeof buffer));
}
