// A chained hash set of addresses: 1021 chain heads held inside the set, no growth.
// The chain is chosen from the exact code units; equality within a chain ignores case.
#pragma once

#include "platform/com.h"

#include <cstdint>
#include <memory>
#include <string>

class UrlSet {
public:
    static constexpr uint32_t kBuckets = 1021;

    UrlSet();
    ~UrlSet();
    UrlSet(const UrlSet&) = delete;
    UrlSet& operator=(const UrlSet&) = delete;

    bool Contains(LPCWSTR url) const;
    void Add(LPCWSTR url);
    void Clear();

    static uint32_t Bucket(LPCWSTR url);

private:
    struct UrlNode {
        std::u16string url;
        std::unique_ptr<UrlNode> next;
    };
    const UrlNode* Find(uint32_t bucket, LPCWSTR url) const;

    std::unique_ptr<UrlNode> m_buckets[kBuckets];
};
