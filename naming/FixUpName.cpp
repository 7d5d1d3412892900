// A tone name whose base is percent-escaped UTF-8 (as servers and caches hand them out)
// becomes its Unicode form; every other name passes unchanged.
#include "naming/Naming.h"
#include "platform/text/codepage.h"
#include "platform/text/text.h"

#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace {

// The work buffers of one call, from the heap.
struct WorkBuffers {
    std::vector<char> ansi = std::vector<char>(MAX_PATH);
    std::vector<char> unescaped = std::vector<char>(MAX_PATH);
    std::vector<char16_t> decoded = std::vector<char16_t>(MAX_PATH);
};

// The ANSI form stands for the base only when it holds every character of it: a character
// turned into '?' or a base cut short would give a decoded name that is not the server's.
bool AnsiHoldsEveryCharacter(LPCWSTR base, const char* ansi) {
    std::vector<char16_t> back(lstrlenA(ansi) + 1);
    if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, back.data(), static_cast<int>(back.size())) <= 0)
        return false;
    return std::u16string_view(back.data()) == std::u16string_view(base);
}

// Decodes the base into work.decoded; false when the base is not percent-escaped UTF-8 or
// decodes to nothing but blanks.
bool DecodeBase(LPCWSTR base, WorkBuffers& work) {
    if (ConvertToAnsi(base, work.ansi.data(), MAX_PATH) == 0)
        return false;
    if (!AnsiHoldsEveryCharacter(base, work.ansi.data()))
        return false;
    DWORD size = MAX_PATH;
    if (FAILED(UrlUnescapeA(work.ansi.data(), work.unescaped.data(), &size, 0)))
        return false;
    if (!LooksLikeUtf8(work.unescaped.data()))
        return false;
    if (ConvertToUnicode(CP_UTF8, work.unescaped.data(), work.decoded.data(), MAX_PATH) == 0)
        return false;
    return !IsBlank(work.decoded.data());
}

} // namespace

void FixUpName(LPWSTR name, int capacity) {
    if (!name || capacity <= 0)
        return;
    std::unique_ptr<WorkBuffers> work;
    try {
        work = std::make_unique<WorkBuffers>();
    } catch (const std::bad_alloc&) {
        return; // no buffers: the name stays as it was
    }

    // Only the base is decoded: hide the extension for the time being.
    LPWSTR extension = PathFindExtension(name);
    const bool hasExtension = *extension == u'.';
    if (hasExtension)
        *extension = 0;
    const bool decoded = DecodeBase(name, *work);
    if (hasExtension)
        *extension = u'.';
    if (!decoded)
        return;

    // The extension goes back exactly as it was, escapes and all.
    LPWSTR result = work->decoded.data();
    if (hasExtension) {
        StrCatBuff(result, u".", MAX_PATH);
        StrCatBuff(result, extension + 1, MAX_PATH);
    }
    StrCpyN(name, result, capacity);
}
