// The notification-area icon's record: the first form's size and fields,
// and a tip that never runs past its 64-byte field.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/Tray.h"

TEST(Tray_MakeTrayRecord, FillsTheFirstFormOfTheRecord) {
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    const HICON icon = reinterpret_cast<HICON>(static_cast<INT_PTR>(0x5678));
    const NOTIFYICONDATAA record = MakeTrayRecord(window, icon, "Morvane");
    // 88 bytes in the shipped 32-bit program; the same fields, wider, here.
    EXPECT_EQ(record.cbSize, offsetof(NOTIFYICONDATAA, szTip) + 64);
    EXPECT_EQ(record.hWnd, window);
    EXPECT_EQ(record.uID, 100u);
    EXPECT_EQ(record.uFlags, 7u);
    EXPECT_EQ(record.uCallbackMessage, 1124u);
    EXPECT_EQ(record.hIcon, icon);
    EXPECT_STREQ(record.szTip, "Morvane");
}

TEST(Tray_CopyTrayTip, StaysInsideTheField) {
    std::string chinese;
    for (int i = 0; i < 40; ++i) chinese += "音";  // two bytes each in code page 936
    struct Case {
        std::string tip;
        std::string expected;
    };
    const Case cases[] = {
        {"", ""},
        {"Morvane", "Morvane"},
        {std::string(63, 'a'), std::string(63, 'a')},
        {std::string(64, 'a'), std::string(63, 'a')},
        {std::string(300, 'b'), std::string(63, 'b')},
        // 63 bytes would end inside the 32nd character: 31 whole ones.
        {chinese, chinese.substr(0, 62)},
        {"x" + chinese, "x" + chinese.substr(0, 62)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tip);
        NOTIFYICONDATAA record = MakeTrayRecord(nullptr, nullptr, c.tip.c_str());
        EXPECT_EQ(std::string(record.szTip), c.expected);
        // Beyond the first form's field nothing was written.
        for (size_t i = 64; i < sizeof record.szTip; ++i) ASSERT_EQ(record.szTip[i], 0) << i;
    }
    // A field smaller than the tip, filled to the brim and no further.
    char field[8];
    memset(field, '#', sizeof field);
    CopyTrayTip(field, 5, "abcdefgh");
    EXPECT_STREQ(field, "abcd");
    EXPECT_EQ(field[5], '#');
}
