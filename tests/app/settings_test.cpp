// The per-user settings store: where it lives, what it gives back, and that a write never
// leaves a damaged file.
#include "app/SettingsStore.h"
#include "tests/support/GuiTest.h"

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class SettingsTest : public GuiTest {
protected:
    CSettingsStore Store(std::u16string_view profile = u"pmcrawler") {
        CSettingsStore store;
        store.SetLocation(u"Patchmere Crawler", profile);
        return store;
    }
};
} // namespace

TEST_F(SettingsTest, FirstReadCreatesTheEmptyLocationAndGivesTheDefault) {
    CSettingsStore store = Store();
    const fs::path file = m_configHome / "Patchmere Crawler" / "pmcrawler.conf";
    EXPECT_EQ(store.FilePath(), file);
    ASSERT_FALSE(fs::exists(file));

    EXPECT_EQ(store.GetProfileString(u"Config", u"LastURL", u"the default"), u"the default");
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(fs::file_size(file), 0u);
}

TEST_F(SettingsTest, MissingGivesTheDefaultButEmptyGivesEmpty) {
    CSettingsStore store = Store();
    ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastURL", u""));
    EXPECT_EQ(store.GetProfileString(u"Config", u"LastURL", u"default"), u"");
    EXPECT_EQ(store.GetProfileString(u"Config", u"LastPath", u"default"), u"default");
    EXPECT_EQ(store.GetProfileString(u"Other", u"LastURL", u"default"), u"default");
}

TEST_F(SettingsTest, ValuesComeBackExactly) {
    const std::u16string values[] = {
        u"  leading and trailing blanks  ",
        u"\ttabs\t",
        u"\u00A0no-break spaces\u00A0",
        u"\"quoted\" and 'single'",
        u"back\\slash\\",
        u"$HOME ${HOME} %HOME% ~",
        u"a = b ; c # d [e]",
        u"line\r\nbreaks\n",
        u"Caf\u00E9 \u6587\u5B57 \U0001F3B5",
        u"/home/user/Patchmere Downloads/",
        u"http://127.0.0.1:8080/library.html?product_id=12&page=3",
        u" ",
    };
    CSettingsStore store = Store();
    for (const std::u16string& value : values) {
        ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastPath", value));
        EXPECT_EQ(store.GetProfileString(u"Config", u"LastPath", u"default"), value)
            << ToWx(value).utf8_string();
    }
}

TEST_F(SettingsTest, WritingOneValueKeepsTheOthersAndOtherApplications) {
    CSettingsStore store = Store();
    ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastURL", u"http://a/"));
    ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastPath", u"/tmp/a"));
    ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastURL", u"http://b/"));
    EXPECT_EQ(store.GetProfileString(u"Config", u"LastURL", u""), u"http://b/");
    EXPECT_EQ(store.GetProfileString(u"Config", u"LastPath", u""), u"/tmp/a");

    EXPECT_EQ(Store(u"crawler-copy").GetProfileString(u"Config", u"LastURL", u"default"),
              u"default");
    EXPECT_TRUE(fs::exists(m_configHome / "Patchmere Crawler" / "crawler-copy.conf"));
}

TEST_F(SettingsTest, WritesReplaceTheFileWholeAndLeaveNoTemporaryFiles) {
    CSettingsStore store = Store();
    ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastURL", u"http://a/"));
    const fs::path file = store.FilePath();
    // A second name for the old file: rewriting in place would change it too.
    const fs::path oldVersion = m_configHome / "old.conf";
    fs::create_hard_link(file, oldVersion);
    const std::string before = ReadFile(file);
    ASSERT_TRUE(store.WriteProfileString(u"Config", u"LastPath", u"/tmp/b"));
    EXPECT_EQ(ReadFile(oldVersion), before);
    EXPECT_NE(ReadFile(file), before);

    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(file.parent_path()))
        ++entries;
    EXPECT_EQ(entries, 1) << "only the settings file itself";

    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("[Config]"), std::string::npos);
    EXPECT_NE(text.find("LastURL"), std::string::npos);
}

TEST_F(SettingsTest, UnusableLocationGivesDefaultsAndFailedWrites) {
    // The settings folder's name is taken by a regular file.
    std::ofstream(m_configHome / "Patchmere Crawler") << "not a folder";
    CSettingsStore store = Store();
    EXPECT_FALSE(store.WriteProfileString(u"Config", u"LastURL", u"http://a/"));
    EXPECT_EQ(store.GetProfileString(u"Config", u"LastURL", u"default"), u"default");

    // No location named at all.
    CSettingsStore unnamed;
    EXPECT_FALSE(unnamed.WriteProfileString(u"Config", u"LastURL", u"http://a/"));
    EXPECT_EQ(unnamed.GetProfileString(u"Config", u"LastURL", u"default"), u"default");
}
