#include "crawl/UrlSet.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(UrlSet, BucketIsTheWrappingTimes32HashModulo1021) {
    EXPECT_EQ(UrlSet::Bucket(u""), 0u);
    EXPECT_EQ(UrlSet::Bucket(u"a"), 97u);
    EXPECT_EQ(UrlSet::Bucket(u"ab"), 139u);  // 97 * 32 + 98 = 3202
    EXPECT_EQ(UrlSet::Bucket(u"abc"), 463u); // 3202 * 32 + 99 = 102563
    // Past seven units the product wraps at 32 bits.
    EXPECT_EQ(UrlSet::Bucket(u"x/l6file?id=12"), 908u); // h = 3301112402
    EXPECT_EQ(UrlSet::Bucket(u"http://127.0.0.1/library.html?page=2"), 371u);
    EXPECT_EQ(UrlSet::Bucket(u"\u00E9t\u00E9\uFFFF"), 754u); // units taken unsigned
}

TEST(UrlSet, AnEmptySetHoldsNothing) {
    UrlSet set;
    EXPECT_FALSE(set.Contains(u""));
    EXPECT_FALSE(set.Contains(u"http://127.0.0.1/library.html"));
    set.Clear();
    EXPECT_FALSE(set.Contains(u""));
}

TEST(UrlSet, AddStoresOneCopyOfEachAddress) {
    UrlSet set;
    std::u16string url = u"http://127.0.0.1/get?l6file=1";
    set.Add(url.c_str());
    url[7] = u'X'; // the set keeps its own copy
    EXPECT_TRUE(set.Contains(u"http://127.0.0.1/get?l6file=1"));
    EXPECT_FALSE(set.Contains(url.c_str()));

    set.Add(u"http://127.0.0.1/get?l6file=1");
    set.Add(u"");
    EXPECT_TRUE(set.Contains(u""));
    EXPECT_FALSE(set.Contains(u"http://127.0.0.1/get?l6file=2"));
}

TEST(UrlSet, LetterCaseCountsOnlyWhereItChoosesTheChain) {
    UrlSet set;
    // Differing in case only before the last six units: same hash, same chain, one address.
    set.Add(u"http://127.0.0.1/Library.html?n=000001");
    EXPECT_EQ(UrlSet::Bucket(u"HTTP://127.0.0.1/LIBRARY.HTML?n=000001"),
              UrlSet::Bucket(u"http://127.0.0.1/Library.html?n=000001"));
    EXPECT_TRUE(set.Contains(u"HTTP://127.0.0.1/LIBRARY.HTML?n=000001"));
    set.Add(u"HTTP://127.0.0.1/LIBRARY.HTML?n=000001");

    // Differing in the case of one letter within the last six units: another chain, another
    // address.
    set.Add(u"http://127.0.0.1/Tone.l6t");
    for (const char16_t* other : {u"http://127.0.0.1/Tone.L6t", u"http://127.0.0.1/TONE.l6t",
                                  u"http://127.0.0.1/Tone.l6T"}) {
        EXPECT_NE(UrlSet::Bucket(other), UrlSet::Bucket(u"http://127.0.0.1/Tone.l6t"));
        EXPECT_FALSE(set.Contains(other));
    }
    // Beyond ASCII, within one chain, the comparison folds case as well.
    set.Add(u"\u00C9t\u00E9 0000001");
    EXPECT_TRUE(set.Contains(u"\u00E9t\u00C9 0000001"));
}

TEST(UrlSet, ChainsHoldEveryAddressOfTheirBucket) {
    UrlSet set;
    // Equal last seven units: all in one chain.
    for (int i = 0; i < 50; ++i)
        set.Add((u"http://127.0.0.1/p" + std::u16string(i, u'x') + u"/a.l6t").c_str());
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(
            set.Contains((u"http://127.0.0.1/P" + std::u16string(i, u'X') + u"/a.l6t").c_str()));
    EXPECT_FALSE(set.Contains(u"http://127.0.0.1/q/a.l6t"));
}

TEST(UrlSet, TheHashOfAChainsAddressesOnlyNarrowsTheComparison) {
    UrlSet set;
    auto url = [](const std::u16string& part) { return u"http://127.0.0.1/" + part + u"x/a.l6t"; };
    for (int i = 0; i < 50; ++i)
        set.Add(url(u"p" + FromUtf8(std::to_string(i))).c_str());
    // Equal ignoring case, beyond ASCII too (KELVIN SIGN folds to k): one hash, found.
    set.Add(url(u"KEY").c_str());
    EXPECT_EQ(UrlSet::FoldedHash(url(u"\u212Aey").c_str()),
              UrlSet::FoldedHash(url(u"key").c_str()));
    EXPECT_TRUE(set.Contains(url(u"\u212Aey").c_str()));
    EXPECT_TRUE(set.Contains(url(u"kEy").c_str()));

    // Two addresses of one length in one chain whose hashes are the same: still two.
    const std::u16string first = url(u"p0942068"), second = url(u"p1004626");
    ASSERT_EQ(UrlSet::Bucket(first.c_str()), UrlSet::Bucket(second.c_str()));
    ASSERT_EQ(UrlSet::FoldedHash(first.c_str()), UrlSet::FoldedHash(second.c_str()));
    set.Add(first.c_str());
    EXPECT_FALSE(set.Contains(second.c_str()));
    set.Add(second.c_str());
    EXPECT_TRUE(set.Contains(first.c_str()));
    EXPECT_TRUE(set.Contains(second.c_str()));
}

TEST(UrlSet, ClearEmptiesEveryChain) {
    UrlSet set;
    auto url = [](int i) { return u"http://127.0.0.1/get?id=" + FromUtf8(std::to_string(i)); };
    for (int i = 0; i < 5000; ++i)
        set.Add(url(i).c_str());
    set.Add(u"");
    EXPECT_TRUE(set.Contains(url(4999).c_str()));
    set.Clear();
    EXPECT_FALSE(set.Contains(u""));
    for (int i = 0; i < 5000; ++i)
        ASSERT_FALSE(set.Contains(url(i).c_str())) << i;
    set.Add(url(7).c_str());
    EXPECT_TRUE(set.Contains(url(7).c_str()));
}
