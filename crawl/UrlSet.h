// A chained hash set of addresses: 1021 chain heads held inside the set, no growth.
// The chain is chosen from the exact code units; equality within a chain ignores case.
// The chain function sees only an address's last seven units, so addresses that end alike
// share long chains; each node also keeps a hash of its case-folded address, and only a node
// whose hash and length match is compared in full.
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
    // A hash of the address with its case folded as the comparison folds it: addresses that
    // are equal ignoring case have equal hashes.
    static uint32_t FoldedHash(LPCWSTR url);

private:
    struct UrlNode {
        uint32_t hash;
        std::u16string url;
        std::unique_ptr<UrlNode> next;
    };
    struct Key {
        LPCWSTR url;
        uint32_t bucket;
        uint32_t hash;
        size_t length;
    };
    static Key KeyOf(LPCWSTR url);
    const UrlNode* Find(const Key& key) const;

    std::unique_ptr<UrlNode> m_buckets[kBuckets];
};
