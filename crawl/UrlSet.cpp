// The set of addresses handled in one crawl.
#include "crawl/UrlSet.h"
#include "platform/text.h"

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

const UrlSet::UrlNode* UrlSet::Find(uint32_t bucket, LPCWSTR url) const {
    for (const UrlNode* node = m_buckets[bucket].get(); node; node = node->next.get()) {
        if (StrCmpI(node->url.c_str(), url) == 0)
            return node;
    }
    return nullptr;
}

bool UrlSet::Contains(LPCWSTR url) const {
    if (!url)
        return false;
    return Find(Bucket(url), url) != nullptr;
}

void UrlSet::Add(LPCWSTR url) {
    if (!url)
        return;
    const uint32_t bucket = Bucket(url);
    if (Find(bucket, url))
        return;
    // The newest address heads its chain.
    auto node = std::make_unique<UrlNode>(UrlNode{url, std::move(m_buckets[bucket])});
    m_buckets[bucket] = std::move(node);
}

void UrlSet::Clear() {
    // Unlinked one node at a time: a long chain must not free itself recursively.
    for (auto& head : m_buckets) {
        while (head)
            head = std::move(head->next);
    }
}
