// A chained hash set of addresses: 1021 chains held inside the set, no growth.
// The chain is chosen from the exact code units; equality within a chain ignores case.
// The chain function sees only an address's last seven units, so addresses that end alike
// share long chains. Each chain therefore keeps the hashes of its case-folded addresses side
// by side, newest last, and a lookup compares in full only an address whose hash matches.
#pragma once

#include "platform/com/com.h"

#include <cstdint>
#include <string>
#include <vector>

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
    struct Chain {
        std::vector<uint32_t> hashes; // one per address, in the order they were added
        std::vector<std::u16string> urls;
    };
    struct Key {
        LPCWSTR url;
        uint32_t bucket;
        uint32_t hash;
        size_t length;
    };
    static Key KeyOf(LPCWSTR url);
    bool Find(const Key& key) const;

    Chain m_chains[kBuckets];
};
