#include "support/Text.h"

#include <gtest/gtest.h>

namespace tidewell {
namespace {

TEST(TextTest, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(ToLower(u"AutoCAD 2024"), u"autocad 2024");
    EXPECT_EQ(ToLower(u"ÉCOLE Ωmega 程序文件"), u"École Ωmega 程序文件");
    EXPECT_EQ(ToLower(u"[@Z`]"), u"[@z`]"); // the neighbours of A and Z stay
}

TEST(TextTest, ContainmentAndPrefixIgnoreAsciiCaseOnly) {
    struct Case {
        const char16_t* text;
        const char16_t* part;
        bool contains;
        bool startsWith;
    };
    const Case cases[] = {
        {u"AutoCAD 2024", u"autocad", true, true},
        {u"ACAD.EXE", u"acad", true, true},
        {u"xacad.exe", u"acad", true, false},
        {u"École", u"é", false, false}, // é does not find É
        {u"程序文件", u"程序", true, true},
        {u"程序文件", u"文件", true, false},
        {u"", u"", true, true},
        {u"anything", u"", true, true},
        {u"ab", u"abc", false, false},
        {u"Tools for Oracle", u"oracle", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ContainsNoCase(c.text, c.part), c.contains)
            << ToUtf8(c.text) << " / " << ToUtf8(c.part);
        EXPECT_EQ(StartsWithNoCase(c.text, c.part), c.startsWith)
            << ToUtf8(c.text) << " / " << ToUtf8(c.part);
    }
}

TEST(TextTest, JoinPathKeepsWhatItIsGiven) {
    EXPECT_EQ(JoinPath(u"", u"x"), u"x");
    EXPECT_EQ(JoinPath(u"C:\\", u"x"), u"C:\\x");
    EXPECT_EQ(JoinPath(u"C:\\a", u"x"), u"C:\\a\\x");
    EXPECT_EQ(JoinPath(u"C:/a/", u"x"), u"C:/a/\\x");
    EXPECT_EQ(JoinPath(u"C:\\A", u"\\B"), u"C:\\A\\\\B");
    EXPECT_EQ(JoinPath(u"C:\\A", u""), u"C:\\A\\");
    EXPECT_EQ(DropTrailingSeparators(u"C:\\A\\/"), u"C:\\A");
    EXPECT_EQ(DropTrailingSeparators(u"C:\\/"), u"C:\\");
    EXPECT_EQ(DropTrailingSeparators(u"\\\\server\\share\\"), u"\\\\server\\share");
    EXPECT_EQ(DropTrailingSeparators(u"/"), u"/");
}

TEST(TextTest, DecimalTextOfSignedAndUnsignedValues) {
    EXPECT_EQ(ToDecimal(0), u"0");
    EXPECT_EQ(ToDecimal(-1), u"-1");
    EXPECT_EQ(ToDecimal(4294967295u), u"4294967295");
    EXPECT_EQ(ToDecimal(INT64_MIN), u"-9223372036854775808");
}

TEST(TextTest, Utf8RoundTripAndReplacement) {
    const std::u16string text = u"Tidewell日志 é \U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_EQ(ToUtf8(u"程"), "\xE7\xA8\x8B");
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b"),
              u"a\uFFFDb");
}

} // namespace
} // namespace tidewell
