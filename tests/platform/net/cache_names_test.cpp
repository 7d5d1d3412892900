// Cache file names: hostile names stay one component, decoration survives the engine's
// undecoration, and shortening respects both limits without breaking escapes.
#include "platform/net/cache_names.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

namespace {

using cache::DecoratedFileName;
using cache::SafeFileName;

std::u16string Undecorated(std::u16string name) {
    PathUndecorate(name.data());
    return name.c_str();
}

TEST(CacheNames, HostileNamesBecomeOnePlainComponent) {
    EXPECT_EQ(SafeFileName(u"../../x"), u".._.._x");
    EXPECT_EQ(SafeFileName(u"a/b\\c"), u"a_b_c");
    EXPECT_EQ(SafeFileName(std::u16string(u"a\0b\x01\x1f\x7f\x85z", 8)), u"a_b____z");
    EXPECT_EQ(SafeFileName(u"x\xD800y\xDC00"), u"x_y_") << "stray surrogate halves";
    EXPECT_EQ(SafeFileName(u"\xD83C\xDFB5.l6t"), u"\xD83C\xDFB5.l6t") << "a pair is kept";
    EXPECT_EQ(SafeFileName(u""), u"download");
    EXPECT_EQ(SafeFileName(u"."), u"download");
    EXPECT_EQ(SafeFileName(u".."), u"download");
    EXPECT_EQ(SafeFileName(u"..."), u"...");
}

TEST(CacheNames, DecorationGoesBeforeTheExtensionAndComesOffAgain) {
    struct Case {
        std::u16string name, decorated;
    } cases[] = {
        {u"Caf%C3%A9.l6t", u"Caf%C3%A9[1].l6t"},
        {u"library.html", u"library[1].html"},
        {u"README", u"README[1]"},
        {u"Tone. Remix", u"Tone. Remix[1]"}, // no extension: a space follows the dot
        {u"a.b.c", u"a.b[1].c"},
    };
    for (const Case& c : cases) {
        std::u16string decorated = DecoratedFileName(c.name, 1, 200, 255);
        EXPECT_EQ(decorated, c.decorated);
        EXPECT_EQ(Undecorated(decorated), c.name);
    }
    EXPECT_EQ(DecoratedFileName(u"Foo.l6t", 42, 200, 255), u"Foo[42].l6t");
    // A name that is all extension gets a base, or the decoration would stay on.
    EXPECT_EQ(DecoratedFileName(u".l6t", 1, 200, 255), u"download[1].l6t");
}

TEST(CacheNames, LongNamesAreCutToBothLimitsKeepingTheExtension) {
    std::u16string ascii = std::u16string(400, u'a') + u".l6t";
    std::u16string cut = DecoratedFileName(ascii, 7, 231, 255);
    EXPECT_EQ(cut, std::u16string(231 - 7, u'a') + u"[7].l6t");

    // Three UTF-8 bytes per character: the byte limit binds first.
    std::u16string wide = std::u16string(200, u'\x97F3') + u".l6t";
    cut = DecoratedFileName(wide, 1, 231, 255);
    EXPECT_LE(ToUtf8(cut).size(), 255u);
    EXPECT_EQ(cut, std::u16string(82, u'\x97F3') + u"[1].l6t");

    // Surrogate pairs are never split.
    std::u16string pairs;
    for (int i = 0; i < 150; ++i)
        pairs += u"\xD83C\xDFB5";
    cut = DecoratedFileName(pairs + u".l6t", 1, 100, 255);
    EXPECT_EQ(cut, pairs.substr(0, 92) + u"[1].l6t");

    // An absurd extension is cut as well, still starting with its dot.
    cut = DecoratedFileName(u"a." + std::u16string(300, u'x'), 1, 231, 255);
    EXPECT_EQ(cut, u"a[1]." + std::u16string(cache::kMaxExtensionUnits - 1, u'x'));

    EXPECT_EQ(DecoratedFileName(u"a.l6t", 123, 4, 255), u"") << "not even [123] fits";
}

TEST(CacheNames, CutsKeepEscapedCharactersWhole) {
    // U+3042 escaped as UTF-8 is "%E3%81%82": a cut must fall between such groups.
    std::u16string escaped;
    for (int i = 0; i < 40; ++i)
        escaped += u"%E3%81%82";
    for (size_t budget = 40; budget < 60; ++budget) {
        std::u16string cut = DecoratedFileName(escaped + u".l6t", 1, budget, 255);
        std::u16string base = cut.substr(0, cut.find(u'['));
        EXPECT_EQ(base.size() % 9, 0u) << "budget " << budget << ": " << ToUtf8(cut);
        EXPECT_LE(cut.size(), budget);
    }
    // Plain text after an escape is cut normally.
    EXPECT_EQ(DecoratedFileName(u"%41bcdefgh.l6t", 1, 12, 255), u"%41bc[1].l6t");
}

TEST(CacheNames, ANameTooLongEscapedIsKeptInTheCharactersItStandsFor) {
    std::u16string escaped, characters;
    for (int i = 0; i < 60; ++i) {
        escaped += u"%E9%9F%B3";
        characters += u"\x97F3";
    }
    EXPECT_EQ(cache::CacheName(escaped + u".l6t", 230, 255), characters + u".l6t");
    // A name that fits keeps its escapes, and a decoding that leaves escapes is not done:
    // the stored name's own decoding would decode them a second time.
    EXPECT_EQ(cache::CacheName(u"Caf%C3%A9.l6t", 230, 255), u"Caf%C3%A9.l6t");
    EXPECT_EQ(cache::CacheName(escaped + u"%2541.l6t", 230, 255), escaped + u"%2541.l6t");
}

} // namespace
