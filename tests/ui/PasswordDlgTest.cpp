// The password prompt as a real window: captions and labels per mode, end
// codes, and what OK leaves in the settings file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "res/resource.h"
#include "settings/LimiterState.h"
#include "tests/support/TestSupport.h"
#include "ui/PasswordDlg.h"
#include "ui/PasswordHash.h"

using namespace testing_support;

namespace {

// A settings folder of its own, made the one the shared state points at.
class PasswordDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        State().iniPath = (dir / "config.ini").c_str();
        State().password = "";
    }
    void StorePassword(const CString& value) {
        ASSERT_TRUE(WritePrivateProfileStringA("user", "p1", value, State().iniPath));
        State().password = value;
    }
    std::string FileValue() {
        char value[512] = "";
        GetPrivateProfileStringA("user", "p1", "<missing>", value, sizeof value, State().iniPath);
        return value;
    }
    INT_PTR Run(int mode, const std::function<void()>& script) {
        CPasswordDlg dlg;
        dlg.m_nMode = mode;
        INT_PTR result = 0;
        EXPECT_TRUE(WithDriver([&] { result = dlg.DoModal(); }, script))
            << "a dialog stayed open after the driver finished";
        return result;
    }
    // Types text and presses OK in the prompt with that caption.
    std::function<void()> Enter(const char* caption, const char* text) {
        return [caption, text] {
            HWND dlg = WaitOwnDialog(caption);
            if (!dlg) return;
            SetItemText(dlg, IDC_EDIT_PASSWORD, text);
            Click(dlg, IDOK);
        };
    }

    TempDir dir{"morvane pw&"};
};

}  // namespace

TEST_F(PasswordDlgTest, CaptionAndLabelFollowTheMode) {
    struct Case {
        int mode;
        const char* caption;
        const char* label;
    } cases[] = {
        {0, kSetPrompt, "新密码"}, {1, kVerifyPrompt, "密码"}, {2, kChangePrompt, "新密码"},
        {3, "密码", "新密码"},     {-1, "密码", "新密码"},
    };
    for (const Case& c : cases) {
        HWND dlg = nullptr;
        std::string label;
        bool editHasFocus = false;
        LONG_PTR style = 0, exStyle = 0;
        HWND owner = nullptr;
        LRESULT icon = 0;
        const INT_PTR result = Run(c.mode, [&] {
            dlg = WaitOwnDialog(c.caption);
            if (!dlg) return;
            label = ItemText(dlg, IDC_STATIC_LABEL);
            editHasFocus =
                WaitFor([&] { return FocusOf(dlg) == GetDlgItem(dlg, IDC_EDIT_PASSWORD); }, 2000);
            style = GetWindowLongPtrA(GetDlgItem(dlg, IDC_EDIT_PASSWORD), GWL_STYLE);
            owner = GetWindow(dlg, GW_OWNER);
            exStyle = GetWindowLongPtrA(dlg, GWL_EXSTYLE);
            icon = SendMessageA(dlg, WM_GETICON, ICON_BIG, 0);
            Click(dlg, IDCANCEL);
        });
        ASSERT_NE(dlg, nullptr) << "no visible prompt captioned " << c.caption;
        EXPECT_EQ(result, IDCANCEL) << c.mode;
        EXPECT_EQ(label, c.label) << c.mode;
        EXPECT_TRUE(editHasFocus) << c.mode;
        EXPECT_TRUE(style & ES_PASSWORD);
        EXPECT_EQ(owner, nullptr) << "no application window, no owner";
        // Nothing to find it by but a taskbar button of its own.
        EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
        EXPECT_NE(icon, 0) << "the button shows the program's icon";
        EXPECT_FALSE(IsWindow(dlg)) << "destroyed when DoModal returns";
    }
}

TEST_F(PasswordDlgTest, VerifyLetsAnyoneInWhenNoPasswordIsStored) {
    EXPECT_EQ(Run(1, Enter(kVerifyPrompt, "whatever")), IDOK);
    EXPECT_EQ(FileValue(), "<missing>") << "nothing is written";
}

TEST_F(PasswordDlgTest, VerifyAcceptsTheRightPassword) {
    const CString hash = HashPassword("\xC3\xD8\xC3\xDC pw");
    StorePassword(hash);
    EXPECT_EQ(Run(1, Enter(kVerifyPrompt, "\xC3\xD8\xC3\xDC pw")), IDOK);
    EXPECT_EQ(FileValue(), hash.c_str()) << "a hash is left as it is";
    EXPECT_EQ(State().password, hash);

    // A config.ini prepared on another computer and copied to this one (the
    // guide's way of setting up many): the hash was made with Python's
    // hashlib, so nothing of this machine or this build is in it.
    const char copied[] =
        "pbkdf2-sha256$100000$a0a1a2a3a4a5a6a7a8a9aaabacadaeaf$"
        "e639b8bddc0900a8d5106c295a8275c58c3fbde412f16bbe24f3ac96155ee079";
    ASSERT_TRUE(WriteFile(State().iniPath.c_str(),
                          std::string("[user]\r\nvol=30\r\nisLock=1\r\np1=") + copied + "\r\n"));
    State().password = FileValue().c_str();
    EXPECT_EQ(Run(1, Enter(kVerifyPrompt, "\xC3\xD8\xC3\xDC pw")), IDOK);
}

// The set prompt too, once a password was stored while it waited.
TEST_F(PasswordDlgTest, WrongPasswordKeepsThePromptOpenAndSaysSo) {
    for (const int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        const CString hash = HashPassword("right");
        StorePassword(hash);
        std::string boxText;
        bool cleared = false, focused = false, stillOpen = false;
        const INT_PTR result = Run(mode, [&] {
            HWND dlg = WaitOwnDialog(mode == 1 ? kVerifyPrompt : kSetPrompt);
            if (!dlg) return;
            boxText = AnswerWithMessage(dlg, "wrong").text;
            HWND edit = GetDlgItem(dlg, IDC_EDIT_PASSWORD);
            cleared = WaitFor([&] { return ItemText(dlg, IDC_EDIT_PASSWORD).empty(); }, kTimeout);
            focused = WaitFor([&] { return FocusOf(dlg) == edit; }, kTimeout);
            stillOpen = IsWindowVisible(dlg);
            SetItemText(dlg, IDC_EDIT_PASSWORD, "right");
            Click(dlg, IDOK);
        });
        EXPECT_EQ(boxText, kWrongPassword);
        EXPECT_TRUE(cleared);
        EXPECT_TRUE(focused);
        EXPECT_TRUE(stillOpen);
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(FileValue(), std::string(hash));
    }
}

TEST_F(PasswordDlgTest, CancelEscapeAndCloseBoxRefuse) {
    struct Case {
        const char* name;
        void (*act)(HWND dlg);
    } cases[] = {
        {"Cancel button", [](HWND dlg) { Click(dlg, IDCANCEL); }},
        {"Escape",
         [](HWND dlg) {
             PostMessageA(GetDlgItem(dlg, IDC_EDIT_PASSWORD), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
         }},
        {"close box", [](HWND dlg) { PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    const CString hash = HashPassword("right");
    StorePassword(hash);
    for (const Case& c : cases) {
        const INT_PTR result = Run(1, [&] {
            HWND dlg = WaitOwnDialog(kVerifyPrompt);
            if (!dlg) return;
            SetItemText(dlg, IDC_EDIT_PASSWORD, "right");
            c.act(dlg);
        });
        EXPECT_EQ(result, IDCANCEL) << c.name;
        EXPECT_EQ(FileValue(), hash.c_str()) << c.name;
    }
}

TEST_F(PasswordDlgTest, EnterInTheEditBoxMeansOk) {
    const INT_PTR result = Run(0, [&] {
        HWND dlg = WaitOwnDialog(kSetPrompt);
        if (!dlg) return;
        SetItemText(dlg, IDC_EDIT_PASSWORD, "typed");
        PostMessageA(GetDlgItem(dlg, IDC_EDIT_PASSWORD), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(VerifyPassword("typed", FileValue().c_str()));
}

TEST_F(PasswordDlgTest, SetAndChangeStoreOnlyAHash) {
    struct Case {
        int mode;
        const char* caption;
    } cases[] = {{0, kSetPrompt}, {2, kChangePrompt}};
    for (const Case& c : cases) {
        // The set prompt comes only while no password is stored.
        StorePassword(c.mode == 0 ? "" : "old plain");
        const char* entered = "new \xC3\xD8\xC3\xDC";
        EXPECT_EQ(Run(c.mode, Enter(c.caption, entered)), IDOK);
        const std::string stored = FileValue();
        EXPECT_TRUE(IsPasswordHash(stored.c_str())) << stored;
        EXPECT_EQ(stored.find("new"), std::string::npos) << "no plain text in the file";
        EXPECT_TRUE(VerifyPassword(entered, stored.c_str()));
        EXPECT_EQ(State().password, stored.c_str()) << "takes effect without a restart";
        // The next verify prompt accepts the new password, not the old one.
        EXPECT_EQ(Run(1, Enter(kVerifyPrompt, entered)), IDOK) << c.mode;
    }
}

TEST_F(PasswordDlgTest, EmptyNewPasswordClearsIt) {
    StorePassword(HashPassword("old"));
    EXPECT_EQ(Run(2, Enter(kChangePrompt, "")), IDOK);
    EXPECT_EQ(FileValue(), "");
    EXPECT_EQ(State().password, "");
}

TEST_F(PasswordDlgTest, LegacyPlainPasswordVerifiesAndIsUpgraded) {
    const char* legacy = "\xBE\xC9\xC3\xDC 123";
    StorePassword(legacy);
    EXPECT_EQ(Run(1, Enter(kVerifyPrompt, legacy)), IDOK);
    const std::string stored = FileValue();
    EXPECT_TRUE(IsPasswordHash(stored.c_str())) << stored;
    EXPECT_TRUE(VerifyPassword(legacy, stored.c_str()));
    EXPECT_EQ(State().password, stored.c_str());
    EXPECT_EQ(Run(1, Enter(kVerifyPrompt, legacy)), IDOK) << "still the same password";
}

TEST_F(PasswordDlgTest, UnwritableSettingsFileKeepsTheOldPassword) {
    StorePassword(HashPassword("old"));
    const CString before = State().password;
    State().iniPath = (dir / "missing folder\\config.ini").c_str();
    std::string boxText;
    const INT_PTR result = Run(2, [&] {
        HWND dlg = WaitOwnDialog(kChangePrompt);
        if (!dlg) return;
        boxText = AnswerWithMessage(dlg, "new").text;
        Click(dlg, IDCANCEL);
    });
    EXPECT_NE(boxText.find("config.ini"), std::string::npos) << "the user is told: " << boxText;
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(State().password, before);
}
