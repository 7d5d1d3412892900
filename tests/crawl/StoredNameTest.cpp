// Names from a server made fit for the folder, and the identical-file test.
#include "crawl/StoredName.h"
#include "crawl/FilesIdentical.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <stdlib.h>

namespace {

std::u16string Storable(std::u16string name, bool* ok = nullptr, bool refusesReserved = false) {
    WCHAR buffer[260];
    StrCpyN(buffer, name.c_str(), 260);
    bool result = MakeStorableName(buffer, refusesReserved);
    if (ok)
        *ok = result;
    return buffer;
}

TEST(StoredName, PlainNamesPassUnchanged) {
    EXPECT_EQ(Storable(u"Café Noir.l6t"), u"Café Noir.l6t");
    EXPECT_EQ(Storable(u"Lead: Crunch?.l6t"), u"Lead: Crunch?.l6t") << "where the folder takes it";
    EXPECT_EQ(Storable(u"Pad. .l6t", nullptr, true), u"Pad. .l6t");
}

TEST(StoredName, NeverHiddenNorAsTheFolderRefuses) {
    // A leading dot would hide the tone and could make it pass for a temporary file.
    EXPECT_EQ(Storable(u".pm-0123456789abcdef.part"), u"_pm-0123456789abcdef.part");
    EXPECT_EQ(Storable(u"..hidden"), u"_.hidden");

    EXPECT_EQ(Storable(u"Lead: Crunch?.l6t", nullptr, true), u"Lead_ Crunch_.l6t");
    EXPECT_EQ(Storable(u"a*b\"c<d>e|f.l6t", nullptr, true), u"a_b_c_d_e_f.l6t");
    EXPECT_EQ(Storable(u"Pad. .", nullptr, true), u"Pad___") << "the end such systems drop";
}

TEST(StoredName, KeepsOnePathComponent) {
    EXPECT_EQ(Storable(u"../../etc/passwd"), u"_._.._etc_passwd");
    EXPECT_EQ(Storable(u"a\\b"), u"a_b");
    EXPECT_EQ(Storable(u"tab\there\x01\x7f.l6t"), u"tab_here__.l6t");
}

TEST(StoredName, RefusesNamesThatAreNoFile) {
    for (std::u16string name : {u"", u".", u".."}) {
        bool ok = true;
        Storable(name, &ok);
        EXPECT_FALSE(ok) << ToUtf8(name);
    }
}

TEST(StoredName, ShortensTooLongNamesKeepingTheExtensionAndWholeCharacters) {
    // 'é' takes two bytes and an astral character four (a surrogate pair here).
    std::u16string base;
    for (int i = 0; i < 60; ++i) // 180 units, 360 bytes
        base += u"é\U0001F3B5";
    bool ok = false;
    std::u16string stored = Storable(base + u".l6t", &ok);
    ASSERT_TRUE(ok);
    EXPECT_LE(ToUtf8(stored).size(), 255u);
    EXPECT_GT(ToUtf8(stored).size(), 245u);
    EXPECT_EQ(stored.substr(stored.size() - 4), u".l6t");
    char16_t last = stored[stored.size() - 5];
    EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF) << "a surrogate pair was split";
    EXPECT_EQ(FromUtf8(ToUtf8(stored)), stored);

    // A numbered variant of a name at the limit gives up some of its base, never its
    // number or extension, and still splits no character.
    std::u16string variant = NumberedName(stored, 12, 259);
    EXPECT_LE(ToUtf8(variant).size(), 255u);
    EXPECT_EQ(variant.substr(variant.size() - 8), u"[12].l6t");
    EXPECT_EQ(FromUtf8(ToUtf8(variant)), variant);
    EXPECT_EQ(NumberedName(u"nnnnnnnnnn.l6t", 3, 12), u"nnnnn[3].l6t") << "to fit the path";
    EXPECT_EQ(NumberedName(u"n.l6t", 3, 7), u"") << "no base left";
}

class FilesIdenticalTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Each test runs in its own process, possibly beside the other: one folder each.
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pm-identical-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::u16string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(m_dir / name, std::ios::binary) << bytes;
        return FromUtf8((m_dir / name).string());
    }
    std::filesystem::path m_dir;
};

TEST_F(FilesIdenticalTest, ComparesSizeAndEveryBlock) {
    EXPECT_TRUE(FilesIdentical(Write("e1", "").c_str(), Write("e2", "").c_str()));

    std::string big(3 * 8192 + 17, 'x');
    std::string other = big;
    other[8192 + 5] = 'y'; // in the second block
    EXPECT_TRUE(FilesIdentical(Write("a", big).c_str(), Write("b", big).c_str()));
    EXPECT_FALSE(FilesIdentical(Write("c", big).c_str(), Write("d", other).c_str()));
    other = big;
    other.back() = 'z'; // in the short last block
    EXPECT_FALSE(FilesIdentical(Write("f", big).c_str(), Write("g", other).c_str()));
    EXPECT_FALSE(FilesIdentical(Write("h", "abc").c_str(), Write("i", "abcd").c_str()));
}

TEST_F(FilesIdenticalTest, WhatCannotBeReadIsNeverIdentical) {
    std::u16string file = Write("a", "");
    std::u16string missing = FromUtf8((m_dir / "missing").string());
    EXPECT_FALSE(FilesIdentical(file.c_str(), missing.c_str()));
    EXPECT_FALSE(FilesIdentical(missing.c_str(), file.c_str()));
    std::filesystem::create_directories(m_dir / "folder");
    std::u16string folder = FromUtf8((m_dir / "folder").string());
    EXPECT_FALSE(FilesIdentical(folder.c_str(), folder.c_str()));
}

} // namespace
