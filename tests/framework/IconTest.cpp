// Icons at the sizes of every display scaling, from the program's icon.
#include <gtest/gtest.h>
#include <windows.h>

#include "framework/Handles.h"
#include "framework/Icon.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"

TEST(Icon_LoadIconForDpi, GivesTheSizesForTheDpiWhateverTheSystemHas) {
    // 28, 36 and 40 pixels (small) and 56 and 64 (large) are sizes the
    // icon holds no image of.
    for (UINT dpi : {96u, 120u, 144u, 168u, 192u, 216u, 240u}) {
        SCOPED_TRACE(dpi);
        for (const bool large : {false, true}) {
            const int cx = large ? SM_CXICON : SM_CXSMICON, cy = large ? SM_CYICON : SM_CYSMICON;
            UniqueIcon icon(LoadIconForDpi(GetModuleHandleA(nullptr), IDI_MAIN, cx, cy, dpi));
            const int expected = MulDiv(GetSystemMetrics(cx), dpi, SystemDpi());
            EXPECT_EQ(testing_support::IconWidth(icon.get()), expected) << large;
        }
    }
}
