#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::u16string Extension(const char16_t* path) {
    return PathFindExtension(path);
}

std::u16string Undecorated(const char16_t* path) {
    char16_t buffer[MAX_PATH];
    StrCpyN(buffer, path, MAX_PATH);
    PathUndecorate(buffer);
    return buffer;
}

std::u16string WithoutBackslash(const char16_t* path) {
    char16_t buffer[MAX_PATH];
    StrCpyN(buffer, path, MAX_PATH);
    PathRemoveBackslash(buffer);
    return buffer;
}

} // namespace

TEST(TextPath, FindExtensionTakesTheLastDotOfTheLastComponentWithoutSpaces) {
    EXPECT_EQ(Extension(u"Foo.l6t"), u".l6t");
    EXPECT_EQ(Extension(u"x.tar.gz"), u".gz");
    EXPECT_EQ(Extension(u"Foo..l6t"), u".l6t");
    EXPECT_EQ(Extension(u".l6t"), u".l6t");
    EXPECT_EQ(Extension(u"Foo."), u".");
    EXPECT_EQ(Extension(u"dir.d/Foo"), u"");
    EXPECT_EQ(Extension(u"Foo.bar baz"), u"");

    const char16_t* none = u"Foo";
    EXPECT_EQ(PathFindExtension(none), none + 3); // the terminator
}

TEST(TextPath, RemoveExtensionAndFindFileName) {
    char16_t path[] = u"/tmp/cache/Foo.bar.l6t";
    EXPECT_EQ(std::u16string(PathFindFileName(path)), u"Foo.bar.l6t");
    PathRemoveExtension(path);
    EXPECT_EQ(std::u16string(path), u"/tmp/cache/Foo.bar");

    EXPECT_EQ(std::u16string(PathFindFileName(u"Foo.l6t")), u"Foo.l6t");
    EXPECT_EQ(std::u16string(PathFindFileName(u"a/b/")), u"b/");
}

TEST(TextPath, UndecorateDropsABracketedNumberBeforeTheExtension) {
    EXPECT_EQ(Undecorated(u"Foo[1].l6t"), u"Foo.l6t");
    EXPECT_EQ(Undecorated(u"Foo[12]"), u"Foo");
    EXPECT_EQ(Undecorated(u"Foo[0].l6t"), u"Foo.l6t");
    EXPECT_EQ(Undecorated(u"Foo[1][2].l6t"), u"Foo[1].l6t");
    EXPECT_EQ(Undecorated(u"Foo[].l6t"), u"Foo.l6t");
    EXPECT_EQ(Undecorated(u"Foo [1].l6t"), u"Foo .l6t");
    EXPECT_EQ(Undecorated(u"Foo[1]."), u"Foo.");
    EXPECT_EQ(Undecorated(u"/cache/Caf%C3%A9[3].l6t"), u"/cache/Caf%C3%A9.l6t");
}

TEST(TextPath, UndecorateLeavesAnythingElseAlone) {
    EXPECT_EQ(Undecorated(u"Foo[x].l6t"), u"Foo[x].l6t");
    EXPECT_EQ(Undecorated(u"Foo[-1].l6t"), u"Foo[-1].l6t");
    EXPECT_EQ(Undecorated(u"[1].l6t"), u"[1].l6t");
    EXPECT_EQ(Undecorated(u"dir/[1].l6t"), u"dir/[1].l6t");
    EXPECT_EQ(Undecorated(u"Foo.l6t[1]"), u"Foo.l6t[1]");
    EXPECT_EQ(Undecorated(u"Foo1].l6t"), u"Foo1].l6t");
    EXPECT_EQ(Undecorated(u""), u"");
}

TEST(TextPath, CombineJoinsAndResolves) {
    char16_t dest[MAX_PATH];
    EXPECT_EQ(PathCombine(dest, u"dir", u"Foo.l6t"), dest);
    EXPECT_EQ(std::u16string(dest), u"dir/Foo.l6t");
    PathCombine(dest, u"/home/me/", u"Foo.l6t");
    EXPECT_EQ(std::u16string(dest), u"/home/me/Foo.l6t");
    PathCombine(dest, u"dir", u"../evil.l6t");
    EXPECT_EQ(std::u16string(dest), u"evil.l6t");
    PathCombine(dest, u"/a/b", u"./c/../d");
    EXPECT_EQ(std::u16string(dest), u"/a/b/d");
    PathCombine(dest, u"/", u"../../x");
    EXPECT_EQ(std::u16string(dest), u"/x"); // nothing above the root
    PathCombine(dest, u"dir", u"/x");
    EXPECT_EQ(std::u16string(dest), u"/x");
    PathCombine(dest, u"", u"Patchmere Downloads");
    EXPECT_EQ(std::u16string(dest), u"Patchmere Downloads");
    PathCombine(dest, u"dir", nullptr);
    EXPECT_EQ(std::u16string(dest), u"dir");
}

TEST(TextPath, CombineIntoItsOwnFolderBuffer) {
    char16_t buffer[MAX_PATH] = u"/home/me/Documents";
    ASSERT_NE(PathCombine(buffer, buffer, u"Patchmere Downloads"), nullptr);
    EXPECT_EQ(std::u16string(buffer), u"/home/me/Documents/Patchmere Downloads");
}

TEST(TextPath, CombineFailsWithAnEmptyResultWhenTooLong) {
    char16_t dest[MAX_PATH];
    const std::u16string dir(250, u'd');
    // 250 + '/' + 8 = 259 units: the longest that fits.
    ASSERT_NE(PathCombine(dest, dir.c_str(), u"12345678"), nullptr);
    EXPECT_EQ(lstrlen(dest), 259);
    dest[0] = u'x';
    EXPECT_EQ(PathCombine(dest, dir.c_str(), u"123456789"), nullptr);
    EXPECT_EQ(dest[0], 0);
}

TEST(TextPath, RemoveBackslashTakesOneTrailingSeparatorButNotTheRoot) {
    EXPECT_EQ(WithoutBackslash(u"dir/"), u"dir");
    EXPECT_EQ(WithoutBackslash(u"dir//"), u"dir/");
    EXPECT_EQ(WithoutBackslash(u"/"), u"/");
    EXPECT_EQ(WithoutBackslash(u"dir"), u"dir");
    EXPECT_EQ(WithoutBackslash(u""), u"");
}

TEST(TextPath, FileExistsForFilesFoldersAndDanglingLinks) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("pm_text_path_" + std::to_string(getpid()));
    fs::create_directories(root / u8"Café");
    std::ofstream(root / "file.l6t") << "x";
    fs::create_symlink(root / "nowhere", root / "link");

    EXPECT_TRUE(PathFileExists(FromUtf8((root / u8"Café").string()).c_str()));
    EXPECT_TRUE(PathFileExists(FromUtf8((root / "file.l6t").string()).c_str()));
    EXPECT_TRUE(PathFileExists(FromUtf8((root / "link").string()).c_str()));
    EXPECT_FALSE(PathFileExists(FromUtf8((root / "missing").string()).c_str()));
    EXPECT_FALSE(PathFileExists(u""));
    EXPECT_FALSE(PathFileExists(nullptr));
    fs::remove_all(root);
}
