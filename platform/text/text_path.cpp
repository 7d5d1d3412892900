// Path services on POSIX paths ('/' separates components).
#include "platform/text/text.h"

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Resolves "." and ".." component by component. A ".." with nothing left to climb out of
// (the root, or the start of a relative path) is dropped, so the result never climbs above
// where the path starts. Repeated separators collapse into one.
std::u16string Canonicalize(std::u16string_view path) {
    const bool absolute = !path.empty() && path.front() == u'/';
    const bool trailingSlash = path.size() > 1 && path.back() == u'/';
    std::vector<std::u16string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find(u'/', pos);
        if (end == std::u16string_view::npos)
            end = path.size();
        const std::u16string_view part = path.substr(pos, end - pos);
        if (part == u"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::u16string result = absolute ? u"/" : u"";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            result += u'/';
        result += parts[i];
    }
    if (trailingSlash && !parts.empty())
        result += u'/';
    return result;
}

} // namespace

LPWSTR PathFindExtension(LPCWSTR path) {
    if (!path)
        return nullptr;
    // The last '.' of the last component, unless a space follows it: extensions hold none.
    LPCWSTR dot = nullptr;
    for (; *path; ++path) {
        if (*path == u'/' || *path == u' ')
            dot = nullptr;
        else if (*path == u'.')
            dot = path;
    }
    return const_cast<LPWSTR>(dot ? dot : path);
}

void PathRemoveExtension(LPWSTR path) {
    if (path)
        *PathFindExtension(path) = 0;
}

LPWSTR PathFindFileName(LPCWSTR path) {
    if (!path)
        return nullptr;
    // A trailing separator does not start a component: "a/b/" names "b/".
    LPCWSTR name = path;
    for (LPCWSTR p = path; *p; ++p) {
        if (*p == u'/' && p[1] && p[1] != u'/')
            name = p + 1;
    }
    return const_cast<LPWSTR>(name);
}

void PathUndecorate(LPWSTR path) {
    if (!path)
        return;
    // "Base[N]ext" -> "Base.ext", N made of digits only (or nothing); the base must not be
    // empty, so "[1].l6t" and "dir/[1].l6t" stay as they are.
    LPWSTR ext = PathFindExtension(path);
    if (ext == path || ext[-1] != u']')
        return;
    LPWSTR open = ext - 1;
    while (open > path && IsDigit(open[-1]))
        --open;
    if (open == path || open[-1] != u'[')
        return;
    --open;
    if (open == path || open[-1] == u'/')
        return;
    std::char_traits<char16_t>::move(open, ext, lstrlen(ext) + 1);
}

LPWSTR PathCombine(LPWSTR dest, LPCWSTR dir, LPCWSTR file) {
    if (!dest)
        return nullptr;
    if (!dir && !file) {
        dest[0] = 0;
        return nullptr;
    }
    // Built apart from dest, which may be dir itself.
    std::u16string joined;
    if (file && file[0] == u'/') {
        joined = file;
    } else {
        joined = dir ? dir : u"";
        if (file && file[0]) {
            if (!joined.empty() && joined.back() != u'/')
                joined += u'/';
            joined += file;
        }
    }
    const std::u16string result = Canonicalize(joined);
    if (result.size() >= static_cast<size_t>(MAX_PATH)) {
        dest[0] = 0;
        return nullptr;
    }
    result.copy(dest, result.size());
    dest[result.size()] = 0;
    return dest;
}

LPWSTR PathRemoveBackslash(LPWSTR path) {
    if (!path)
        return nullptr;
    const int length = lstrlen(path);
    if (length == 0)
        return path;
    LPWSTR last = path + length - 1;
    // The root keeps its separator.
    if (*last == u'/' && length > 1) {
        *last = 0;
        return last;
    }
    return last;
}

bool PathFileExists(LPCWSTR path) {
    if (!path || !path[0])
        return false;
    struct stat info;
    // lstat: a link counts as something that exists even when it leads nowhere.
    return ::lstat(ToNativeName(path).c_str(), &info) == 0;
}
