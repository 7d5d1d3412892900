// The two tests behind FixUpName: does a byte string hold UTF-8, is a name blank.
#include "naming/Naming.h"

#include <bit>

namespace {

bool IsContinuation(unsigned char byte) {
    return byte >= 0x80 && byte <= 0xBF;
}

} // namespace

bool LooksLikeUtf8(const char* bytes) {
    if (!bytes)
        return false;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    while (*p) {
        if (*p < 0xC0) {
            ++p;
            continue;
        }
        // A lead byte calls for one continuation byte fewer than its leading one bits. All of
        // them are examined unless the terminator comes first.
        const int wanted = std::countl_one(*p) - 1;
        bool complete = true;
        for (int i = 0; i < wanted; ++i) {
            ++p;
            if (!*p || !IsContinuation(*p)) {
                complete = false;
                if (!*p)
                    break;
            }
        }
        if (complete)
            return true;
        // The scan resumes at the last byte examined, which may lead a sequence itself.
    }
    return false;
}

bool IsBlank(LPCWSTR text) {
    if (!text)
        return true;
    for (; *text; ++text) {
        switch (*text) {
        case 0x0009:
        case 0x0020:
        case 0x00A0:
        case 0x3000:
        case 0xFEFF:
            continue;
        default:
            return false;
        }
    }
    return true;
}
