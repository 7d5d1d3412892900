#include "naming/Naming.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Fixed(const std::u16string& name, int capacity = MAX_PATH) {
    std::u16string buffer = name;
    buffer.resize(std::max<size_t>(capacity, name.size() + 1), u'\0');
    FixUpName(buffer.data(), capacity);
    return buffer.c_str();
}

} // namespace

TEST(FixUpName, DecodesAnEscapedUtf8BaseAndKeepsTheExtension) {
    EXPECT_EQ(Fixed(u"Caf%C3%A9.l6t"), u"Café.l6t");
    EXPECT_EQ(Fixed(u"%E3%81%82.l6t"), u"\u3042.l6t");
    EXPECT_EQ(Fixed(u"Caf%C3%A9%20Noir.l6t"), u"Café Noir.l6t"); // every escape of the base
    EXPECT_EQ(Fixed(u"Caf%c3%a9"), u"Café");
    EXPECT_EQ(Fixed(u"%C3%A9.%41%42"), u"é.%41%42"); // the extension is never decoded
    EXPECT_EQ(Fixed(u"a.b%C3%A9.c%20d"), u"a.bé.c%20d");
    EXPECT_EQ(Fixed(u"%F0%9F%8E%B8 Riff.l6t"), u"\U0001F3B8 Riff.l6t");
    EXPECT_EQ(Fixed(u"%C3%A9.l6t ok"), u"é.l6t ok"); // a space ends any extension
}

TEST(FixUpName, LeavesOtherNamesExactlyAsTheyWere) {
    for (const char16_t* name : {
             u"My%20Tone.l6t", // no multi-byte sequence: not even %20 is decoded
             u"%C2%A0.l6t",    // a lone no-break space is blank
             u"%EF%BB%BF%09.l6t",
             u".l6t",
             u"",
             u"Plain.l6t",
             u"%E3%C3%A9.l6t", // 0xE3 takes both bytes, the scan resumes at 0xA9
             u"%C3A9.l6t",
         })
        EXPECT_EQ(Fixed(name), name);
}

TEST(FixUpName, ReadsTheBaseThroughTheAnsiCodePage) {
    // U+00C3 U+00A9 are the Windows-1252 forms of the bytes C3 A9, the UTF-8 of U+00E9.
    EXPECT_EQ(Fixed(u"\u00C3\u00A9.l6t"), u"é.l6t");
    // Characters without an ANSI form would turn into '?': such a name is not touched.
    EXPECT_EQ(Fixed(u"\u65E5\u672C%C3%A9.l6t"), u"\u65E5\u672C%C3%A9.l6t");
}

TEST(FixUpName, MalformedUtf8LeavesTheNameUnchanged) {
    // With replacement characters these would all collapse into one stored name.
    for (const char16_t* name :
         {u"%C3%A9%FF.l6t", u"%C3%A9%FE.l6t", u"%C0%AF.l6t", u"%ED%A0%80.l6t", u"%F4%90%80%80.l6t",
          u"%F8%88%80%80%80.l6t", u"%C3%A9%E3%81.l6t", u"%C3%A9%A9.l6t"})
        EXPECT_EQ(Fixed(name), name);
}

TEST(FixUpName, ResultIsCutTo259UnitsAndToTheCapacity) {
    // A long extension after a shrinking base: decoded base (201) + '.' + 58 units = 259.
    const std::u16string name =
        u"%C3%A9" + std::u16string(200, u'a') + u"." + std::u16string(150, u'x');
    const std::u16string fixed = Fixed(name, 400);
    ASSERT_EQ(fixed.size(), 259u);
    EXPECT_EQ(fixed.substr(0, 2), u"éa");
    EXPECT_EQ(fixed.substr(201), u"." + std::u16string(57, u'x'));

    // StrCpyN-style bound: capacity - 1 units.
    EXPECT_EQ(Fixed(u"Caf%C3%A9.x", 6), u"Café.");
    EXPECT_EQ(Fixed(u"Caf%C3%A9.x", 7), u"Café.x");
}

TEST(FixUpName, ABaseLongerThanTheWorkBuffersIsNotCutAndDecoded) {
    const std::u16string name = u"%C3%A9" + std::u16string(300, u'a') + u".l6t";
    EXPECT_EQ(Fixed(name, 600), name);
}
