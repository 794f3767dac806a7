// The unpacked release, in the folder package-test.sh names in
// MORVANE_PACKAGE, started as a user who unpacked it would start it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/TestSupport.h"

using namespace testing_support;

TEST(Package, UnpackedProgramShowsItsPrompt) {
    const char* folder = std::getenv("MORVANE_PACKAGE");
    ASSERT_TRUE(folder) << "run by package-test.sh";
    Process program;
    ASSERT_TRUE(program.Start(Wide(std::string(folder) + "\\Morvane.exe")));

    // The prompt comes only once the program has found bin.exe beside it.
    HWND prompt = nullptr;
    bool warned = false;
    WaitFor(
        [&] {
            warned = !FindWindows(program.pid(), "#32770", kWarning).empty();
            prompt = WaitWindow(program.pid(), "#32770", kSetPrompt, 0);
            return warned || prompt || !program.Running();
        },
        kTimeout);
    ASSERT_FALSE(warned) << "the program says bin.exe is missing";
    ASSERT_TRUE(prompt) << "no password prompt; the program is running: " << program.Running();

    // It keeps the password set there beside itself, and ends in order.
    ASSERT_TRUE(AnswerPrompt(prompt, "pw"));
    HWND main = WaitWindow(program.pid(), "#32770", "Morvane");
    ASSERT_TRUE(main && PostMessageW(main, WM_CLOSE, 0, 0));
    ASSERT_TRUE(program.WaitExit());
    EXPECT_NE(GetFileAttributesW(Wide(std::string(folder) + "\\config.ini").c_str()),
              INVALID_FILE_ATTRIBUTES);
}
