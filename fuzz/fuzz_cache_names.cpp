// The cache's naming from arbitrary Content-Disposition values and URLs: whatever a server
// sends, the cache file's name is one plain component within the length limits.
#include "platform/net/cache_names.h"
#include "platform/net/urlmon_headers.h"
#include "platform/text/text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
void Check(const std::string& serverName, unsigned n) {
    std::u16string name = cache::SafeFileName(FromUtf8(serverName));
    if (name.empty() || name == u"." || name == u".." ||
        name.find_first_of(u"/\\") != std::u16string::npos)
        std::abort();
    std::u16string decorated = cache::DecoratedFileName(name, n, 200, 255);
    if (decorated.empty())
        return;
    if (decorated.size() > 200 || ToUtf8(decorated).size() > 255 ||
        decorated.find_first_of(u"/\\") != std::u16string::npos || decorated == u"..")
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    unsigned n = data[0] % 300 + 1;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (auto name = urlmon::FileNameFromContentDisposition(text))
        Check(*name, n);
    Check(urlmon::LastPathSegment(text), n);
    urlmon::MediaType(text);
    urlmon::UrlScheme(text);
    return 0;
}
