#include "crawl/UrlSet.h"
#include "platform/text.h"

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
