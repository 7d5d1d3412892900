// The set of addresses handled in one crawl.
#include "crawl/UrlSet.h"
#include "platform/text/text.h"
#include "platform/text/text_casefold.h"

#include <utility>

UrlSet::UrlSet() = default; // every chain starts empty

UrlSet::~UrlSet() = default;

uint32_t UrlSet::Bucket(LPCWSTR url) {
    // h * 32 wraps at 32 bits, so only the last seven units count.
    uint32_t h = 0;
    for (LPCWSTR p = url; p && *p; ++p)
        h = h * 32 + static_cast<uint16_t>(*p);
    return h % kBuckets;
}

uint32_t UrlSet::FoldedHash(LPCWSTR url) {
    return KeyOf(url).hash;
}

UrlSet::Key UrlSet::KeyOf(LPCWSTR url) {
    uint32_t hash = 2166136261u; // FNV-1a over the folded units
    LPCWSTR p = url;
    for (; p && *p; ++p)
        hash = (hash ^ FoldCase(*p)) * 16777619u;
    return Key{url, Bucket(url), hash, static_cast<size_t>(p - url)};
}

bool UrlSet::Find(const Key& key) const {
    // The newest address first, as it heads its chain.
    const Chain& chain = m_chains[key.bucket];
    for (size_t i = chain.hashes.size(); i-- > 0;) {
        // Case folding keeps the length, so an address of another length cannot be equal.
        if (chain.hashes[i] == key.hash && chain.urls[i].size() == key.length &&
            StrCmpI(chain.urls[i].c_str(), key.url) == 0)
            return true;
    }
    return false;
}

bool UrlSet::Contains(LPCWSTR url) const {
    if (!url)
        return false;
    return Find(KeyOf(url));
}

void UrlSet::Add(LPCWSTR url) {
    if (!url)
        return;
    const Key key = KeyOf(url);
    if (Find(key))
        return;
    Chain& chain = m_chains[key.bucket];
    chain.urls.emplace_back(url, key.length);
    try {
        chain.hashes.push_back(key.hash);
    } catch (...) {
        chain.urls.pop_back(); // the two stay in step
        throw;
    }
}

void UrlSet::Clear() {
    for (Chain& chain : m_chains)
        chain = Chain{};
}
