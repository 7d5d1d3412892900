// The stored name of a tone, from any name a server may send, joined with a folder: it is
// one plain component, fits the file system, and the joined path stays in the folder.
#include "crawl/StoredName.h"
#include "naming/Naming.h"
#include "platform/files/files.h"
#include "platform/text/text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string input(size / 2, u'\0');
    std::memcpy(input.data(), data, input.size() * 2);
    input = input.substr(0, input.find(u'\0'));

    // An odd byte left over asks for a folder that refuses the reserved characters.
    const bool refusesReserved = size % 2 == 1;

    WCHAR name[MAX_PATH];
    StrCpyN(name, input.c_str(), MAX_PATH);
    PathUndecorate(name);
    FixUpName(name, MAX_PATH);
    if (!MakeStorableName(name, refusesReserved))
        return 0;
    std::u16string stored = name;
    if (stored.empty() || stored.front() == u'.' ||
        stored.find_first_of(u"/\\") != std::u16string::npos || ToUtf8(stored).size() > 255)
        std::abort();
    for (char16_t c : stored) {
        if (c < 0x20 ||
            (refusesReserved && kReservedNameCharacters.find(c) != std::u16string::npos))
            std::abort();
    }
    if (refusesReserved && (stored.back() == u'.' || stored.back() == u' '))
        std::abort();
    WCHAR joined[MAX_PATH];
    if (PathCombine(joined, u"/home/user/Tones", name)) {
        std::u16string path = joined;
        if (path.rfind(u"/home/user/Tones/", 0) != 0 ||
            std::u16string(PathFindFileName(joined)) != stored)
            std::abort();
    }
    return 0;
}
