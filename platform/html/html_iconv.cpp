// iconv calls with an output string that grows as needed.
#include "platform/html/html_iconv.h"

#include <cerrno>

namespace {

// Output room per call: enough for most input at once (a legacy character takes at most a
// little more room in UTF-8 than in its own encoding), grown on demand for the rest.
size_t RoomFor(size_t inputBytes) {
    return inputBytes + inputBytes / 2 + 16;
}

} // namespace

Iconv::Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}

Iconv::~Iconv() {
    if (m_cd != kNone)
        iconv_close(m_cd);
}

bool Iconv::Convert(std::string_view& in, std::string& out) {
    size_t room = RoomFor(in.size());
    while (!in.empty()) {
        const size_t used = out.size();
        out.resize(used + room);
        // iconv takes non-const input pointers but does not write through them.
        char* source = const_cast<char*>(in.data());
        size_t sourceLeft = in.size();
        char* target = out.data() + used;
        size_t targetLeft = room;
        const size_t result = iconv(m_cd, &source, &sourceLeft, &target, &targetLeft);
        const int error = errno;
        out.resize(out.size() - targetLeft);
        const bool progress = sourceLeft < in.size();
        in.remove_prefix(in.size() - sourceLeft);
        if (result != static_cast<size_t>(-1))
            return true;
        if (error != E2BIG)
            return false;
        room = progress ? RoomFor(in.size()) : room * 2;
    }
    return true;
}

void Iconv::Flush(std::string& out) {
    const size_t used = out.size();
    out.resize(used + 32);
    char* target = out.data() + used;
    size_t targetLeft = out.size() - used;
    iconv(m_cd, nullptr, nullptr, &target, &targetLeft);
    out.resize(out.size() - targetLeft);
}
