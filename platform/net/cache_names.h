// How a cache file is named after a name that a server chose: one plain path component,
// decorated with [N] before its extension, short enough for the file system and for the
// 260-unit path buffers of the program.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cache {

// The name given to a download that offers none (or only "." / "..").
inline constexpr std::u16string_view kFallbackName = u"download";
// An extension longer than this is cut when a name must be shortened.
inline constexpr size_t kMaxExtensionUnits = 32;

// One plain file name component: '/', '\\', NUL and the other control characters become
// '_'; an empty name, "." and ".." become the fallback name.
std::u16string SafeFileName(std::u16string_view name);

// The name the cache keeps for serverName: its SafeFileName, escapes kept as they came. A
// name too long for maxUnits and maxBytes with its "[1]" whose base is percent-escaped UTF-8
// is kept in the characters it stands for instead (the name a tone is stored under anyway),
// so that the cache does not cut a name that the folder would take whole.
std::u16string CacheName(std::u16string_view serverName, size_t maxUnits, size_t maxBytes);

// name (a SafeFileName) as "base[n]ext", where ext is what PathFindExtension finds, cut so
// that the result takes at most maxUnits UTF-16 units and maxBytes UTF-8 bytes. Cuts fall on
// character boundaries and never split a percent escape or the escaped bytes of one UTF-8
// character, so that the name can still be decoded. Empty when even "[n]" does not fit.
std::u16string DecoratedFileName(std::u16string_view name, unsigned n, size_t maxUnits,
                                 size_t maxBytes);

} // namespace cache
