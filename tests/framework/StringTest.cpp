// CString: the byte-string operations the settings and the limiter rely on.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/String.h"

TEST(CString_Find, SkipsTrailingBytesOfDoubleByteCharacters) {
    ASSERT_EQ(GetACP(), 936u) << "tests run in code page 936";
    // "\xB5\x5C" is one character whose trailing byte is a backslash; "\xC4\xE3" is another.
    const CString text("\xB5\x5C\\x");
    EXPECT_EQ(text.Find("\\"), 2);
    EXPECT_EQ(CString("a\xC4\xE3m").Find("\xE3m"), -1);
    EXPECT_EQ(CString("x\xE3m").Find("\xE3m"), 1);
}

TEST(CString_Find, FindsFromAStartPosition) {
    const CString text("ab. cd. ef");
    EXPECT_EQ(text.Find(". "), 2);
    EXPECT_EQ(text.Find(". ", 3), 6);
    EXPECT_EQ(text.Find(". ", 7), -1);
    EXPECT_EQ(text.Find(""), 0);
    EXPECT_EQ(text.Find("", 10), 10);
    EXPECT_EQ(text.Find("x", 50), -1);
}

TEST(CString_Edit, MidTrimAndFormat) {
    CString text("master volume: 0.62. \r\n\t \v\f");
    text.TrimRight();
    EXPECT_EQ(text, "master volume: 0.62.");
    EXPECT_EQ(text.Mid(15, 4), "0.62");
    EXPECT_EQ(text.Mid(15), "0.62.");
    EXPECT_EQ(text.Mid(99), "");
    CString blank(" \r\n");
    blank.TrimRight();
    EXPECT_TRUE(blank.IsEmpty());
    CString formatted;
    formatted.Format("%s -v %d", "C:\\b.exe", -40);
    EXPECT_EQ(formatted, "C:\\b.exe -v -40");
    EXPECT_EQ(formatted.GetLength(), 15);
}
