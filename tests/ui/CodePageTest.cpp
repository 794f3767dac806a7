// The program on a system whose ANSI code page cannot spell its folder: a
// Western system (code page 1252) with the program in a folder named in
// Chinese, or a Chinese one (936) with a folder named in Thai and an emoji.
// ctest runs this program under both Wine set-ups.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "res/resource.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

std::wstring ForeignFolderName() {
    if (GetACP() == 936) return L"\u0e17\u0e14\u0e2a\u0e2d\u0e1a \U0001F50A";
    return L"\u97f3\u91cf \u9650\u5236";  // 音量 限制
}

}  // namespace

TEST(Program_AnyCodePage, ChineseTextsAndAForeignFolderWork) {
    // The run under the Western set-up says so, lest a broken set-up pass
    // as the usual one.
    if (const char* expected = getenv("MORVANE_EXPECT_ACP")) {
        ASSERT_EQ(GetACP(), static_cast<UINT>(atoi(expected)));
    }
    SCOPED_TRACE(GetACP());
    Morvane app(ForeignFolderName());
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=40\r\nisLock=1\r\n", /*toolVolume=*/nullptr));
    ASSERT_TRUE(app.InstallRealTool("0.90"));
    ASSERT_TRUE(app.Start());

    // The texts set at run time read back as the Chinese they are.
    HWND prompt = app.WaitDialog(kSetPrompt);
    ASSERT_TRUE(prompt) << "no set prompt: the folder was not found";
    EXPECT_EQ(ItemText(prompt, IDC_STATIC_LABEL), "新密码");
    ASSERT_TRUE(AnswerPrompt(prompt, "pw"));
    HWND main = app.MainWindow();
    ASSERT_TRUE(main && WaitFor([&] { return Visible(main); }, kTimeout));

    // The tool beside the program is run, and the limit reaches the device.
    EXPECT_TRUE(WaitFor([&] { return app.DeviceLevel() == 0.40f; }, kTimeout)) << app.DeviceLevel();
    ASSERT_TRUE(app.Close(main));
    // The settings file is the one in the program's own folder.
    EXPECT_EQ(app.Setting("vol"), "40");
    EXPECT_EQ(app.Setting("isLock"), "1");
    EXPECT_NE(app.Setting("p1"), "<missing>");

    // Next start: the verify prompt, and a wrong password's message.
    ASSERT_TRUE(app.Start());
    prompt = app.WaitDialog(kVerifyPrompt);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(ItemText(prompt, IDC_STATIC_LABEL), "密码");
    const BoxContent box = AnswerWithMessage(prompt, "wrong");
    EXPECT_EQ(box.text, kWrongPassword);
    EXPECT_EQ(box.caption, "Morvane");
    ASSERT_TRUE(AnswerPrompt(prompt, "pw"));
    main = app.MainWindow();
    ASSERT_TRUE(main && WaitFor([&] { return Visible(main); }, kTimeout));
    ASSERT_TRUE(app.Close(main));
}
