// The framework's dialogs as real windows: the modal loop, owners, message
// maps, data exchange and the slider. The templates are the program's own.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "framework/App.h"
#include "framework/Window.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

const UINT kProbe = WM_APP + 1;
const UINT kRegistered = RegisterWindowMessageA("Morvane framework test");
// What RegisterWindowMessage returns when it fails.
const UINT kFailedRegistration = 0;

// A dialog on the password template whose behaviour the test supplies.
class CTestDlg : public CDialog {
public:
    explicit CTestDlg(UINT id = IDD_PASSWORD, CWnd* parent = nullptr) : CDialog(id, parent) {}

    std::function<void(CTestDlg&)> onInit;
    std::function<void(CTestDlg&)> onOk;
    std::function<bool(MSG*)> preTranslate;
    bool destroyed = false;
    int sizeCalls = 0;
    int lastCx = 0;
    int clicks = 0;
    WPARAM lastWParam = 0;

    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) onInit(*this);
        return TRUE;
    }
    void OnOK() override {
        if (onOk)
            onOk(*this);
        else
            CDialog::OnOK();
    }
    BOOL PreTranslateMessage(MSG* msg) override {
        if (preTranslate && preTranslate(msg)) return TRUE;
        return CDialog::PreTranslateMessage(msg);
    }
    void OnDestroy() {
        destroyed = true;
        CWnd::OnDestroy();
    }
    void OnSize(UINT type, int cx, int cy) {
        ++sizeCalls;
        lastCx = cx;
        CWnd::OnSize(type, cx, cy);
    }
    void OnLabelClicked() { ++clicks; }
    LRESULT OnProbe(WPARAM wParam, LPARAM lParam) {
        lastWParam = wParam;
        return static_cast<LRESULT>(wParam + lParam);
    }
    LRESULT OnRegistered(WPARAM, LPARAM) { return 77; }
    int failedCalls = 0;
    LRESULT OnFailedRegistration(WPARAM, LPARAM) { return ++failedCalls; }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
ON_WM_DESTROY()
ON_WM_SIZE()
ON_BN_CLICKED(IDC_STATIC_LABEL, OnLabelClicked)
ON_MESSAGE(kProbe, OnProbe)
ON_MESSAGE(kRegistered, OnRegistered)
ON_MESSAGE(kFailedRegistration, OnFailedRegistration)
END_MESSAGE_MAP()

// An application object for the tests that need a main window.
class CTestApp : public CWinApp {
public:
    explicit CTestApp(CWnd* mainWindow = nullptr) : CWinApp("测试程序") {
        RegisterCommonControls();
        m_pMainWnd = mainWindow;
    }
};

// Drains the queue; true when a WM_QUIT with that code was in it.
bool QuitIsPending(WPARAM code) {
    MSG msg;
    bool found = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT && msg.wParam == code) found = true;
    return found;
}

}  // namespace

TEST(CDialog_DoModal, QuitEndsEveryNestedLoopAndIsSeenOutside) {
    CTestDlg outer, inner;
    CTestApp app(&outer);
    INT_PTR innerResult = 0;
    HWND outerWindow = nullptr;
    outer.onInit = [&](CTestDlg& self) {
        outerWindow = self.m_hWnd;
        inner.onInit = [](CTestDlg&) { PostQuitMessage(42); };
        innerResult = inner.DoModal();
    };
    const INT_PTR outerResult = outer.DoModal();
    EXPECT_EQ(innerResult, IDCANCEL);
    EXPECT_EQ(outerResult, IDCANCEL);
    EXPECT_TRUE(inner.destroyed);
    EXPECT_TRUE(outer.destroyed) << "the destroy handler runs on the way out";
    EXPECT_FALSE(IsWindow(outerWindow));
    EXPECT_EQ(outer.m_hWnd, nullptr);
    EXPECT_TRUE(QuitIsPending(42)) << "the quit reaches the loop outside";
}

TEST(CDialog_DoModal, OwnedByTheMainWindowWhichIsDisabledMeanwhile) {
    CTestDlg outer, inner;
    CTestApp app(&outer);
    HWND owner = nullptr, outerWindow = nullptr;
    BOOL enabledDuring = TRUE, enabledAfter = FALSE;
    RECT outerRect{}, innerRect{};
    // OK on the shown main window opens the prompt, as the tray restore does.
    outer.onOk = [&](CTestDlg& self) {
        outerWindow = self.m_hWnd;
        GetWindowRect(outerWindow, &outerRect);
        inner.DoModal();
        enabledAfter = IsWindowEnabled(outerWindow);
        self.EndDialog(IDOK);
    };
    INT_PTR result = 0;
    EXPECT_TRUE(WithDriver([&] { result = outer.DoModal(); },
                           [&] {
                               HWND main = WaitOwnDialog("修改密码");
                               if (!main) return;
                               Click(main, IDOK);
                               HWND prompt = WaitOwnedDialog(main);
                               if (!prompt) return;
                               owner = GetWindow(prompt, GW_OWNER);
                               enabledDuring = IsWindowEnabled(main);
                               GetWindowRect(prompt, &innerRect);
                               Click(prompt, IDCANCEL);
                           }));
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(owner, outerWindow);
    EXPECT_FALSE(enabledDuring);
    EXPECT_TRUE(enabledAfter) << "enabled again before the prompt goes";
    // Same template, so centred over the owner means the same rectangle.
    EXPECT_EQ(innerRect.left, outerRect.left);
    EXPECT_EQ(innerRect.top, outerRect.top);
}

TEST(CDialog_CenterWindow, CentresOnTheScreenWhileTheOwnerIsHidden) {
    CTestDlg outer, inner;
    CTestApp app(&outer);
    RECT rect{};
    HWND owner = nullptr;
    // During OnInitDialog the (invisible) main window already owns the prompt.
    outer.onInit = [&](CTestDlg&) {
        inner.onInit = [&](CTestDlg& self) {
            GetWindowRect(self.m_hWnd, &rect);
            owner = GetWindow(self.m_hWnd, GW_OWNER);
            self.EndDialog(IDOK);
        };
        inner.DoModal();
        outer.EndDialog(IDOK);
    };
    EXPECT_EQ(outer.DoModal(), IDOK);
    EXPECT_NE(owner, nullptr);
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_LE(abs((rect.left + rect.right) - (work.left + work.right)), 2);
    EXPECT_LE(abs((rect.top + rect.bottom) - (work.top + work.bottom)), 2);
}

TEST(CDialog_DoModal, EndDialogFromAMessageSentByAnotherThreadEndsTheLoop) {
    CTestDlg dlg;
    INT_PTR result = 0;
    EXPECT_TRUE(WithDriver([&] { result = dlg.DoModal(); },
                           [&] {
                               HWND window = WaitOwnDialog("修改密码");
                               if (window) SendMessageA(window, WM_COMMAND, IDOK, 0);
                           }));
    EXPECT_EQ(result, IDOK);
}

TEST(CDialog_DoModal, MissingTemplateFailsAndLeavesTheOwnerEnabled) {
    CTestDlg outer;
    CTestApp app(&outer);
    INT_PTR missing = 0;
    BOOL enabled = FALSE;
    outer.onInit = [&](CTestDlg& self) {
        CTestDlg nowhere(4242);
        missing = nowhere.DoModal();
        enabled = IsWindowEnabled(self.m_hWnd);
        self.EndDialog(IDOK);
    };
    EXPECT_EQ(outer.DoModal(), IDOK);
    EXPECT_EQ(missing, -1);
    EXPECT_TRUE(enabled);
}

TEST(CDialog_PreTranslateMessage, SeesPostedMessagesAndMayConsumeKeys) {
    CTestDlg dlg;
    bool sawProbe = false;
    dlg.preTranslate = [&](MSG* msg) {
        if (msg->message == kProbe) sawProbe = true;
        // Swallowing Escape keeps it from cancelling the dialog.
        return msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE;
    };
    dlg.onInit = [](CTestDlg& self) {
        self.PostMessage(kProbe, 1, 2);
        const HWND edit = self.GetDlgItem(IDC_EDIT_PASSWORD);
        PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        // Enter reaches the dialog manager and means OK.
        PostMessageA(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    };
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(sawProbe);
    EXPECT_EQ(dlg.lastWParam, 1u) << "and it was dispatched afterwards";
}

TEST(CWnd_MessageMap, EntriesReachTheirHandlersWithResults) {
    CTestDlg dlg;
    LRESULT probe = 0, registered = 0, unmatched = 0;
    dlg.onInit = [&](CTestDlg& self) {
        probe = self.SendMessage(kProbe, 5, 6);
        registered = self.SendMessage(kRegistered);
        unmatched = self.SendMessage(WM_APP + 9);
        self.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_STATIC_LABEL, BN_CLICKED), 0);
        self.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_STATIC_LABEL, BN_DOUBLECLICKED), 0);
        self.SendMessage(WM_NULL);
        self.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(123, 45));
        self.EndDialog(IDCANCEL);
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(probe, 11);
    EXPECT_EQ(registered, 77);
    EXPECT_EQ(unmatched, 0);
    EXPECT_EQ(dlg.clicks, 1) << "only BN_CLICKED";
    EXPECT_EQ(dlg.failedCalls, 0) << "a failed registration binds nothing, WM_NULL included";
    EXPECT_GE(dlg.sizeCalls, 1);
    EXPECT_EQ(dlg.lastCx, 123);
}

namespace {
class CSliderDlg : public CDialog {
public:
    CSliderDlg() : CDialog(IDD_MORVANE_DIALOG) {}
    CSliderCtrl m_slider;
    int afterSet = -1, clamped = -1;
    LRESULT maxRange = -1, tics = -1;
    HWND bound = nullptr;

    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDC_SLIDER, m_slider); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        bound = m_slider.m_hWnd;
        m_slider.SetRange(0, 100);
        m_slider.SetTicFreq(10);
        m_slider.SetPos(40);
        afterSet = m_slider.GetPos();
        m_slider.SetPos(150);
        clamped = m_slider.GetPos();
        maxRange = m_slider.SendMessage(TBM_GETRANGEMAX);
        tics = m_slider.SendMessage(TBM_GETNUMTICS);
        EndDialog(IDOK);
        return TRUE;
    }
};
}  // namespace

TEST(CSliderCtrl_DDX_Control, BindsTheTrackbarOfTheTemplate) {
    CTestApp app;
    CSliderDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_NE(dlg.bound, nullptr);
    EXPECT_EQ(dlg.afterSet, 40);
    EXPECT_EQ(dlg.clamped, 100);
    EXPECT_EQ(dlg.maxRange, 100);
    EXPECT_EQ(dlg.tics, 11) << "a tick every tenth position, both ends included";
}

TEST(CWinApp_AfxMessageBox, NamedAfterTheApplicationAndOwnedByTheActivePrompt) {
    std::string caption, text;
    HWND owner = nullptr, promptWindow = nullptr;
    {
        CTestApp app;
        EXPECT_EQ(AfxGetApp(), &app);
        CTestDlg main;
        app.m_pMainWnd = &main;
        main.onOk = [&](CTestDlg& self) {
            CTestDlg prompt;
            prompt.onOk = [&](CTestDlg& p) {
                promptWindow = p.m_hWnd;
                AfxMessageBox("消息", MB_OK);
                p.EndDialog(IDOK);
            };
            prompt.DoModal();
            self.EndDialog(IDOK);
        };
        EXPECT_TRUE(WithDriver([&] { main.DoModal(); },
                               [&] {
                                   HWND mainWindow = WaitOwnDialog("修改密码");
                                   if (!mainWindow) return;
                                   Click(mainWindow, IDOK);
                                   HWND prompt = WaitOwnedDialog(mainWindow);
                                   if (!prompt) return;
                                   Click(prompt, IDOK);
                                   HWND box = WaitOwnedDialog(prompt);
                                   if (!box) return;
                                   caption = WindowCaption(box);
                                   text = ReadMessageBox(box).text;
                                   owner = GetWindow(box, GW_OWNER);
                                   PostMessageA(box, WM_COMMAND, IDOK, 0);
                               }));
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
    EXPECT_EQ(caption, "测试程序");
    EXPECT_EQ(text, "消息");
    EXPECT_EQ(owner, promptWindow);
}
