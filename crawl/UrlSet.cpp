// The set of addresses handled in one crawl.
#include "crawl/UrlSet.h"
#include "platform/text.h"
#include "platform/text_casefold.h"

#include <utility>

UrlSet::UrlSet() = default; // every head starts empty

UrlSet::~UrlSet() {
    Clear();
}

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
    for (; p && *p; ++p) {
        const char16_t unit = *p;
        const char16_t folded =
            unit < 0x80 ? (unit >= u'A' && unit <= u'Z' ? unit + 0x20 : unit) : FoldCase(unit);
        hash = (hash ^ folded) * 16777619u;
    }
    return Key{url, Bucket(url), hash, static_cast<size_t>(p - url)};
}

const UrlSet::UrlNode* UrlSet::Find(const Key& key) const {
    for (const UrlNode* node = m_buckets[key.bucket].get(); node; node = node->next.get()) {
        // Case folding keeps the length, so a node of another length or hash cannot be equal.
        if (node->hash == key.hash && node->url.size() == key.length &&
            StrCmpI(node->url.c_str(), key.url) == 0)
            return node;
    }
    return nullptr;
}

bool UrlSet::Contains(LPCWSTR url) const {
    if (!url)
        return false;
    return Find(KeyOf(url)) != nullptr;
}

void UrlSet::Add(LPCWSTR url) {
    if (!url)
        return;
    const Key key = KeyOf(url);
    if (Find(key))
        return;
    // The newest address heads its chain.
    auto node = std::make_unique<UrlNode>(
        UrlNode{key.hash, std::u16string(url, key.length), std::move(m_buckets[key.bucket])});
    m_buckets[key.bucket] = std::move(node);
}

void UrlSet::Clear() {
    // Unlinked one node at a time: a long chain must not free itself recursively.
    for (auto& head : m_buckets) {
        while (head)
            head = std::move(head->next);
    }
}
