// Bounded formatting into UTF-16 buffers: the small set of conversions the program uses.
#include "platform/text/text.h"

#include <string>

namespace {

struct FieldSpec {
    bool leftAlign = false;
    bool zeroPad = false;
    int width = 0;
    int precision = -1; // none
};

void AppendPadded(std::u16string& out, const FieldSpec& field, std::u16string_view sign,
                  std::u16string_view body) {
    const int length = static_cast<int>(sign.size() + body.size());
    const int padding = field.width > length ? field.width - length : 0;
    if (field.leftAlign) {
        out.append(sign).append(body).append(padding, u' ');
    } else if (field.zeroPad) {
        out.append(sign).append(padding, u'0').append(body);
    } else {
        out.append(padding, u' ').append(sign).append(body);
    }
}

std::u16string Digits(uint32_t value, uint32_t base, bool upper, int minDigits) {
    const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
    char16_t buffer[32];
    char16_t* const end = buffer + 32;
    char16_t* first = end;
    do {
        *--first = digits[value % base];
        value /= base;
    } while (value);
    const int count = static_cast<int>(end - first);
    std::u16string text;
    if (minDigits > count)
        text.assign(minDigits - count, u'0');
    text.append(first, end);
    return text;
}

// Reads a decimal number at fmt, advancing it.
int ReadNumber(LPCWSTR& fmt) {
    int value = 0;
    while (*fmt >= u'0' && *fmt <= u'9' && value < 100000)
        value = value * 10 + (*fmt++ - u'0');
    while (*fmt >= u'0' && *fmt <= u'9')
        ++fmt;
    return value;
}

std::u16string Format(LPCWSTR fmt, va_list args) {
    std::u16string out;
    out.reserve(128);
    while (*fmt) {
        // The text up to the next conversion goes in as one run.
        LPCWSTR literal = fmt;
        while (*fmt && *fmt != u'%')
            ++fmt;
        out.append(literal, fmt);
        if (!*fmt)
            break;
        ++fmt;
        FieldSpec field;
        for (;; ++fmt) {
            if (*fmt == u'-')
                field.leftAlign = true;
            else if (*fmt == u'0')
                field.zeroPad = true;
            else
                break;
        }
        field.width = ReadNumber(fmt);
        if (*fmt == u'.') {
            ++fmt;
            field.precision = ReadNumber(fmt);
        }
        // 'l' and 'h' change nothing: long is 32 bits here as in the program's result codes.
        while (*fmt == u'l' || *fmt == u'h')
            ++fmt;
        const char16_t conversion = *fmt;
        if (!conversion)
            break;
        ++fmt;
        switch (conversion) {
        case u's': {
            const char16_t* text = va_arg(args, const char16_t*);
            std::u16string_view body = text ? text : u"(null)";
            if (field.precision >= 0 && body.size() > static_cast<size_t>(field.precision))
                body = body.substr(0, field.precision);
            field.zeroPad = false;
            AppendPadded(out, field, u"", body);
            break;
        }
        case u'c': {
            const char16_t unit = static_cast<char16_t>(va_arg(args, int));
            field.zeroPad = false;
            AppendPadded(out, field, u"", std::u16string_view(&unit, 1));
            break;
        }
        case u'd':
        case u'i': {
            const int32_t value = va_arg(args, int32_t);
            const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : value;
            AppendPadded(out, field, value < 0 ? u"-" : u"",
                         Digits(magnitude, 10, false, field.precision));
            break;
        }
        case u'u':
            AppendPadded(out, field, u"",
                         Digits(va_arg(args, uint32_t), 10, false, field.precision));
            break;
        case u'x':
        case u'X':
            AppendPadded(out, field, u"",
                         Digits(va_arg(args, uint32_t), 16, conversion == u'X', field.precision));
            break;
        default: // "%%", and an unknown conversion stands for itself
            out += conversion;
            break;
        }
    }
    return out;
}

} // namespace

int wvnsprintf(LPWSTR buf, int cch, LPCWSTR fmt, va_list args) {
    if (!buf || cch <= 0)
        return -1;
    buf[0] = 0;
    if (!fmt)
        return -1;
    const std::u16string text = Format(fmt, args);
    const bool fits = text.size() < static_cast<size_t>(cch);
    const size_t length = fits ? text.size() : static_cast<size_t>(cch - 1);
    text.copy(buf, length);
    buf[length] = 0;
    return fits ? static_cast<int>(length) : -1;
}

int wnsprintf(LPWSTR buf, int cch, LPCWSTR fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int result = wvnsprintf(buf, cch, fmt, args);
    va_end(args);
    return result;
}
