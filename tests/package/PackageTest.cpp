// The program as a user gets it, unpacked from the archive or installed by
// the installer, in the folder package-test.sh names in MORVANE_PACKAGE: the
// fake volume tool stands there as bin.exe, and config.ini has the lock on
// at 40 and no password.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/TestSupport.h"

using namespace testing_support;

TEST(Package, ProgramShowsItsPromptAndHoldsTheCeiling) {
    const char* folder = std::getenv("MORVANE_PACKAGE");
    ASSERT_TRUE(folder) << "run by package-test.sh";
    const std::string dir = std::string(folder) + "\\";
    Process program;
    ASSERT_TRUE(program.Start(Wide(dir + "Morvane.exe")));

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
    // Its worker runs the tool beside it and reads the settings beside it.
    EXPECT_TRUE(
        WaitFor([&] { return CountCalls(ReadToolLog(Wide(dir)), true, 0, "40") > 0; }, kTimeout));

    // Cancelled without a password, it ends in order.
    ASSERT_TRUE(Click(prompt, IDCANCEL));
    ASSERT_TRUE(program.WaitExit());
}
