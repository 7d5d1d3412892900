// The conversions between the program's UTF-16 text and the toolkit's strings.
#include "platform/wx/wxtext.h"

#include <gtest/gtest.h>

TEST(WxText, PairsBecomeOneCharacterAndLoneHalvesTheReplacement) {
    const wxString shown = ToWx(u"a\U0001F600b");
    ASSERT_EQ(shown.length(), 3u);
    EXPECT_EQ(static_cast<wxUint32>(shown[1].GetValue()), 0x1F600u);
    EXPECT_EQ(FromWx(shown), u"a\U0001F600b") << "and back to the same pair";

    const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00, 0};
    const wxString replaced = ToWx(lone);
    ASSERT_EQ(replaced.length(), 4u);
    EXPECT_EQ(static_cast<wxUint32>(replaced[1].GetValue()), 0xFFFDu);
    EXPECT_EQ(static_cast<wxUint32>(replaced[3].GetValue()), 0xFFFDu);

    wxString beyond;
    beyond += wxUniChar(static_cast<wxUint32>(0x110000));
    beyond += wxUniChar(static_cast<wxUint32>(0xDFFF));
    EXPECT_EQ(FromWx(beyond), u"\uFFFD\uFFFD") << "what UTF-16 cannot hold is replaced";
    EXPECT_EQ(FromWx(ToWx(u"")), u"");
}
