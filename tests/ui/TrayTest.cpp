// The notification-area icon: the first form of its record with a tip that
// never runs past its 64-byte field, and the image at the size for the DPI
// (with the framework's icon loading behind it).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "framework/App.h"
#include "framework/Icon.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/Tray.h"

namespace {

int IconWidth(HICON icon) {
    ICONINFO info = {};
    if (!icon || !GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// Set for the run at another DPI below: the width the first image must have.
const char kExpectedWidth[] = "MORVANE_EXPECT_TRAY_ICON";

// The colour image's pixels, to tell two images apart.
std::vector<DWORD> IconPixels(HICON icon) {
    ICONINFO info = {};
    std::vector<DWORD> pixels(48 * 48);
    if (GetIconInfo(icon, &info)) GetBitmapBits(info.hbmColor, 48 * 48 * 4, pixels.data());
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels;
}

// The shell as the icon sees it: it refuses while refusals are left.
int g_refusals = 0;
std::vector<UINT> g_flags;  // of each call
bool Shell(DWORD /*message*/, UINT flags) {
    g_flags.push_back(flags);
    return g_refusals-- <= 0;
}

// The one icon in Wine's shell, or nullptr; this thread's messages (the
// icon's timer) run while a test waits for it.
HWND ShellIcon() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    const auto icons = testing_support::FindWindows(0, "__winex11_tray_icon", nullptr, false, true);
    return icons.empty() ? nullptr : icons[0];
}

}  // namespace

using testing_support::TrayTip;
using testing_support::WaitFor;

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

    // The smallest form with a balloon; the tip still fits the first form.
    const NOTIFYICONDATAW tip = MakeTipRecord(window, std::string(99, 'x').c_str(), "t", "b");
    EXPECT_EQ(tip.cbSize, offsetof(NOTIFYICONDATAW, dwInfoFlags) + sizeof(DWORD));
    EXPECT_EQ(tip.uFlags, static_cast<UINT>(NIF_TIP | NIF_INFO));
    EXPECT_EQ(wcslen(tip.szTip), 63u);
    EXPECT_STREQ(MakeTipRecord(window, "音量", nullptr, nullptr).szTip, L"\u97f3\u91cf");
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

TEST(Tray_Icon, LoadsTheImageForTheDpi) {
    HWND window =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(window);
    CTrayIcon tray(GetModuleHandleA(nullptr), IDI_TRAY, IDI_TRAY_WARNING, Shell);
    // A busy shell: two adds refused, and it holds no icon either. The icon
    // comes once the shell takes it.
    g_refusals = 4;
    EXPECT_FALSE(tray.Add(window));
    ASSERT_TRUE(WaitFor([&] { return TrayTip(ShellIcon()) == "Morvane"; }, 5000));
    // The notification area's size at the DPI the program started with.
    EXPECT_EQ(IconWidth(tray.icon()), GetSystemMetrics(SM_CXSMICON));
    if (const char* expected = getenv(kExpectedWidth)) {
        EXPECT_EQ(IconWidth(tray.icon()), atoi(expected));
    }
    // Re-added after TaskbarCreated (Wine still holds it), with a new image
    // at the taskbar's scaling, which under Wine is the system's.
    EXPECT_EQ(TaskbarDpi(), SystemDpi());
    const HICON before = tray.icon();
    ASSERT_TRUE(tray.AddAgain());
    EXPECT_NE(tray.icon(), before);
    EXPECT_EQ(IconWidth(tray.icon()), GetSystemMetrics(SM_CXSMICON));
    // Any DPI's sizes, also those the icons hold no image of (28 to 40
    // pixels small, 56 and 64 large).
    for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 216u, 240u}) {
        SCOPED_TRACE(dpi);
        const HINSTANCE module = GetModuleHandleA(nullptr);
        const UniqueIcon little(LoadIconForDpi(module, IDI_MAIN, SM_CXSMICON, SM_CYSMICON, dpi));
        const UniqueIcon large(LoadIconForDpi(module, IDI_MAIN, SM_CXICON, SM_CYICON, dpi));
        EXPECT_EQ(IconWidth(little.get()), MulDiv(GetSystemMetrics(SM_CXSMICON), dpi, SystemDpi()));
        EXPECT_EQ(IconWidth(large.get()), MulDiv(GetSystemMetrics(SM_CXICON), dpi, SystemDpi()));
    }
    // A warning refused: its image at once, its tip and balloon once the
    // shell takes them; then the usual ones again.
    const std::vector<DWORD> usual = IconPixels(tray.icon());
    g_refusals = 1;
    EXPECT_FALSE(tray.SetWarning("no volume", "title", "text"));
    EXPECT_NE(IconPixels(tray.icon()), usual);
    EXPECT_TRUE(WaitFor([&] { return TrayTip(ShellIcon()) == "no volume"; }, 5000));
    EXPECT_EQ(g_flags.back(), static_cast<UINT>(NIF_TIP | NIF_ICON | NIF_INFO));
    ASSERT_TRUE(tray.SetWarning(nullptr));
    EXPECT_EQ(IconPixels(tray.icon()), usual);
    EXPECT_EQ(TrayTip(ShellIcon()), "Morvane");
    EXPECT_TRUE(tray.Remove());
    DestroyWindow(window);
}

TEST(Tray_Icon, TwentyFourPixelsAt144Dpi) {
    // The test above, in a program started at 150 % scaling.
    testing_support::ScopedLogPixels dpi(144);
    ASSERT_TRUE(dpi.ok());
    SetEnvironmentVariableA(kExpectedWidth, "24");
    testing_support::Process run;
    const bool started =
        run.Start(GetModulePath(), L"--gtest_filter=Tray_Icon.LoadsTheImageForTheDpi");
    SetEnvironmentVariableA(kExpectedWidth, nullptr);
    ASSERT_TRUE(started);
    ASSERT_TRUE(run.WaitExit());
    EXPECT_EQ(run.ExitCode(), 0u) << "run this test program alone with LogPixels 144 to see why";
}
