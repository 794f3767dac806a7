// Windows and dialogs: the C++ object is attached to its dialog at creation
// (DWLP_USER), messages reach it through one virtual function per class
// built from the message-map macros below, and DoModal runs its own loop.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/String.h"

class CDataExchange;

// A window handle with the calls this program makes on it. The object does
// not own the window: destroying a CWnd leaves the window alone.
class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    // Returns the control's handle (not a wrapper object as some frameworks
    // do): nothing here keeps temporary objects alive between messages.
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    // Texts are the program's code page 936 text, shown and read through
    // the wide functions so that they are right whatever the system's ANSI
    // code page is.
    void SetWindowText(const char* text);
    CString GetWindowText() const;
    void SetDlgItemText(int nID, const char* text);
    CString GetDlgItemText(int nID) const;
    void SetDlgItemInt(int nID, UINT value, BOOL bSigned = TRUE) {
        ::SetDlgItemInt(m_hWnd, nID, value, bSigned);
    }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }
    LRESULT SendDlgItemMessage(int nID, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendDlgItemMessageA(m_hWnd, nID, message, wParam, lParam);
    }
    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    HICON SetIcon(HICON icon, BOOL bBigIcon) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(icon)));
    }
    // A message box owned by this window; with no caption, the application's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

    // Message maps. The macros below call these; the handler of a derived
    // class may call the base version to ask for the system's default
    // processing of the message.
    void OnPaint() { SetMsgHandled(false); }
    void OnDestroy() { SetMsgHandled(false); }
    void OnSize(UINT /*nType*/, int /*cx*/, int /*cy*/) { SetMsgHandled(false); }
    void OnHScroll(UINT /*nSBCode*/, UINT /*nPos*/, CWnd* /*pScrollBar*/) { SetMsgHandled(false); }
    void OnEndSession(BOOL /*bEnding*/) { SetMsgHandled(false); }
    void OnTimer(UINT_PTR /*nIDEvent*/) { SetMsgHandled(false); }

protected:
    // One class's message map: true when the message was handled, with its
    // result in *pResult. The base handles nothing.
    virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    // Runs the message map; a nested message (a handler sending one to its
    // own window) leaves the outer handler's "handled" flag as it was.
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    void SetMsgHandled(bool handled) { m_msgHandled = handled; }
    bool IsMsgHandled() const { return m_msgHandled; }

private:
    bool m_msgHandled = false;
};

// A modal dialog built from a dialog template in the executable.
class CDialog : public CWnd {
public:
    // With no parent, DoModal makes the application's main window the owner.
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Creates the dialog, runs it until EndDialog and returns the end code;
    // -1 when the template cannot be loaded or the window is destroyed by
    // someone else. A WM_QUIT ends the loop too: it is posted again for the
    // loops outside, and the function returns IDCANCEL.
    virtual INT_PTR DoModal();
    // As the system's own dialogs do, the dialog disappears and its owner
    // is enabled again at once, even while the loop of another dialog
    // stacked over this one runs and this loop cannot yet return.
    void EndDialog(int nResult);

    // Base: exchanges data into the controls, then centres the dialog over
    // its owner while the owner is visible, otherwise on the screen.
    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Sees every message the modal loop takes from the queue; true when it
    // consumed the message. Base: the dialog manager's keyboard handling.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void GotoDlgCtrl(HWND control);
    void CenterWindow();

protected:
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND ChooseOwner() const;

    void EnableOwner();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    HWND m_owner = nullptr;
    bool m_disabledOwner = false;  // we disabled m_owner and still have to enable it
    bool m_ended = false;
    INT_PTR m_nModalResult = -1;
};

// What DoDataExchange is asked to do: load the controls (false) or read them.
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

// Attaches control nIDC of the dialog to rControl (no subclassing: the
// wrapper only sends messages to it).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// The trackbar control.
class CSliderCtrl : public CWnd {
public:
    void SetRange(int nMin, int nMax, BOOL bRedraw = FALSE) {
        SendMessage(TBM_SETRANGEMIN, FALSE, nMin);
        SendMessage(TBM_SETRANGEMAX, bRedraw, nMax);
    }
    void SetTicFreq(int nFreq) { SendMessage(TBM_SETTICFREQ, nFreq, 0); }
    void SetPos(int nPos) { SendMessage(TBM_SETPOS, TRUE, nPos); }
    int GetPos() const { return static_cast<int>(SendMessage(TBM_GETPOS)); }
};

// BeginPaint and EndPaint around a WM_PAINT handler.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd), m_hDC(::BeginPaint(m_hWnd, &m_ps)) {}
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    PAINTSTRUCT m_ps{};
    HWND m_hWnd;
    HDC m_hDC;
};

// Message maps. In the class:       DECLARE_MESSAGE_MAP()
// In its source file:               BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//                                       ON_WM_PAINT()
//                                       ON_BN_CLICKED(IDC_X, OnX)
//                                   END_MESSAGE_MAP()
// The entries expand to a chain of ifs inside CMyDlg::OnWndMsg, which ends by
// handing the message to the base class's map. A handler that calls the base
// class's version of itself (CWnd::OnPaint...) lets the system's default
// processing run after it. No semicolons after the entries.

#define DECLARE_MESSAGE_MAP() \
protected:                    \
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                              \
    bool theClass::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) { \
        using MessageMapBase = baseClass;

#define END_MESSAGE_MAP()                                              \
    return MessageMapBase::OnWndMsg(message, wParam, lParam, pResult); \
    }

// Shared tail of the entries: the handler ran and did not ask for default processing.
#define MORVANE_MSG_HANDLED_RETURN() \
    if (IsMsgHandled()) return true;

// void OnPaint()
#define ON_WM_PAINT()                \
    if (message == WM_PAINT) {       \
        SetMsgHandled(true);         \
        OnPaint();                   \
        *pResult = 0;                \
        MORVANE_MSG_HANDLED_RETURN() \
    }

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                    \
    if (message == WM_QUERYDRAGICON) {                           \
        SetMsgHandled(true);                                     \
        *pResult = reinterpret_cast<LRESULT>(OnQueryDragIcon()); \
        MORVANE_MSG_HANDLED_RETURN()                             \
    }

// void OnDestroy()
#define ON_WM_DESTROY()              \
    if (message == WM_DESTROY) {     \
        SetMsgHandled(true);         \
        OnDestroy();                 \
        *pResult = 0;                \
        MORVANE_MSG_HANDLED_RETURN() \
    }

// void OnSize(UINT nType, int cx, int cy)
#define ON_WM_SIZE()                                                          \
    if (message == WM_SIZE) {                                                 \
        SetMsgHandled(true);                                                  \
        OnSize(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)), \
               static_cast<short>(HIWORD(lParam)));                           \
        *pResult = 0;                                                         \
        MORVANE_MSG_HANDLED_RETURN()                                          \
    }

// void OnHScroll(UINT nSBCode, UINT nPos, CWnd* pScrollBar)
// pScrollBar wraps the sending control for the duration of the call; it is
// null for the window's own scroll bar.
#define ON_WM_HSCROLL()                                                           \
    if (message == WM_HSCROLL) {                                                  \
        SetMsgHandled(true);                                                      \
        CWnd scrollBar;                                                           \
        scrollBar.m_hWnd = reinterpret_cast<HWND>(lParam);                        \
        OnHScroll(LOWORD(wParam), HIWORD(wParam), lParam ? &scrollBar : nullptr); \
        *pResult = 0;                                                             \
        MORVANE_MSG_HANDLED_RETURN()                                              \
    }

// void OnEndSession(BOOL bEnding)
#define ON_WM_ENDSESSION()                       \
    if (message == WM_ENDSESSION) {              \
        SetMsgHandled(true);                     \
        OnEndSession(static_cast<BOOL>(wParam)); \
        *pResult = 0;                            \
        MORVANE_MSG_HANDLED_RETURN()             \
    }

// void OnTimer(UINT_PTR nIDEvent)
#define ON_WM_TIMER()                           \
    if (message == WM_TIMER) {                  \
        SetMsgHandled(true);                    \
        OnTimer(static_cast<UINT_PTR>(wParam)); \
        *pResult = 0;                           \
        MORVANE_MSG_HANDLED_RETURN()            \
    }

// void memberFxn()
#define ON_BN_CLICKED(id, memberFxn)                                                       \
    if (message == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == BN_CLICKED) { \
        SetMsgHandled(true);                                                               \
        memberFxn();                                                                       \
        *pResult = 0;                                                                      \
        MORVANE_MSG_HANDLED_RETURN()                                                       \
    }

// LRESULT memberFxn(WPARAM wParam, LPARAM lParam)
// msg may be a registered message held in a variable; 0 (a failed
// RegisterWindowMessage) matches nothing, not WM_NULL.
#define ON_MESSAGE(msg, memberFxn)                         \
    if ((msg) != 0 && message == static_cast<UINT>(msg)) { \
        SetMsgHandled(true);                               \
        *pResult = memberFxn(wParam, lParam);              \
        MORVANE_MSG_HANDLED_RETURN()                       \
    }
