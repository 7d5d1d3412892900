// iconv calls that append to a growing output string, in time linear in the input.
#include "platform/html/html_iconv.h"

#include <algorithm>

namespace {

// Output of one iconv call. The converter writes into this block, and what it wrote is
// appended to the caller's string: growing the string by a guess of what the rest of the
// input needs would cost time in proportion to that rest on every call, and a caller that
// resumes after each bad byte would pay it once per byte.
constexpr size_t kBlockBytes = 16 * 1024;

// Input offered to one iconv call. glibc converts through an intermediate form, several
// thousand characters ahead of the character that stops it, and converts them again on the next
// call; so a call is offered a small window, which doubles while the input converts.
// What a stop costs is then at most twice what converted before it.
constexpr size_t kFirstWindow = 32;
constexpr size_t kLargestWindow = kBlockBytes / 4; // no input byte gives more than 4 out

} // namespace

Iconv::Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}

Iconv::~Iconv() {
    if (m_cd != kNone)
        iconv_close(m_cd);
}

bool Iconv::Convert(std::string_view& in, std::string& out) {
    m_lastError = 0;
    char block[kBlockBytes];
    size_t window = kFirstWindow;
    while (!in.empty()) {
        const size_t offered = std::min(in.size(), window);
        // iconv takes non-const input pointers but does not write through them.
        char* source = const_cast<char*>(in.data());
        size_t sourceLeft = offered;
        char* target = block;
        size_t targetLeft = sizeof block;
        const size_t result = iconv(m_cd, &source, &sourceLeft, &target, &targetLeft);
        const int error = result == static_cast<size_t>(-1) ? errno : 0;
        out.append(block, sizeof block - targetLeft);
        const bool wholeInput = offered == in.size();
        in.remove_prefix(offered - sourceLeft);
        if (error == 0 || error == E2BIG || (error == EINVAL && !wholeInput)) {
            // Converted, out of room, or the window ends inside a character: go on, with more
            // input at a time.
            window = std::min(window * 2, kLargestWindow);
            continue;
        }
        m_lastError = error;
        return false;
    }
    return true;
}

void Iconv::Flush(std::string& out) {
    char block[32];
    char* target = block;
    size_t targetLeft = sizeof block;
    iconv(m_cd, nullptr, nullptr, &target, &targetLeft);
    out.append(block, sizeof block - targetLeft);
}
