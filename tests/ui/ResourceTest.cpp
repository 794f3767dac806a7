// The resources as built into the executables: dialog templates with their
// controls, icons, manifest and version information, read back with the
// system's own resource functions.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/TestSupport.h"

using testing_support::Wide;

namespace {

// One control of an extended dialog template.
struct Item {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::wstring windowClass;  // a name, or "#128" for an ordinal
    std::wstring text;
};

struct Template {
    DWORD style = 0, exStyle = 0;
    short cx = 0, cy = 0;
    std::wstring caption, font;
    WORD pointSize = 0;
    BYTE charset = 0;
    std::vector<Item> items;
};

// Reads a name-or-ordinal field and moves past it.
std::wstring ReadField(const WORD*& p) {
    if (*p == 0xFFFF) {
        std::wstring ordinal = L"#" + std::to_wstring(p[1]);
        p += 2;
        return ordinal;
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(p));
    p += text.size() + 1;
    return text;
}

const WORD* AlignDword(const WORD* p, const BYTE* base) {
    const size_t offset = reinterpret_cast<const BYTE*>(p) - base;
    return reinterpret_cast<const WORD*>(base + ((offset + 3) & ~size_t{3}));
}

bool ParseTemplate(HMODULE module, int id, Template& out) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5) /*RT_DIALOG*/);
    if (!found) return false;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    if (!base) return false;
    const WORD* p = reinterpret_cast<const WORD*>(base);
    if (p[0] != 1 || p[1] != 0xFFFF) return false;  // DLGTEMPLATEEX only
    out.exStyle = *reinterpret_cast<const DWORD*>(p + 4);
    out.style = *reinterpret_cast<const DWORD*>(p + 6);
    const WORD count = p[8];
    out.cx = static_cast<short>(p[11]);
    out.cy = static_cast<short>(p[12]);
    p += 13;
    ReadField(p);  // menu
    ReadField(p);  // class
    out.caption = ReadField(p);
    if (out.style & DS_SETFONT) {
        out.pointSize = p[0];
        out.charset = reinterpret_cast<const BYTE*>(p + 2)[1];
        p += 3;
        out.font = ReadField(p);
    }
    for (WORD i = 0; i < count; ++i) {
        p = AlignDword(p, base);
        Item item;
        item.style = *reinterpret_cast<const DWORD*>(p + 4);
        item.x = static_cast<short>(p[6]);
        item.y = static_cast<short>(p[7]);
        item.cx = static_cast<short>(p[8]);
        item.cy = static_cast<short>(p[9]);
        item.id = *reinterpret_cast<const DWORD*>(p + 10);
        p += 12;
        item.windowClass = ReadField(p);
        item.text = ReadField(p);
        const WORD extra = *p++;
        p = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(p) + extra);
        out.items.push_back(item);
    }
    return true;
}

// A template may name the predefined classes by ordinal or by name.
std::wstring ClassName(const std::wstring& field) {
    if (field == L"#128") return L"button";
    if (field == L"#129") return L"edit";
    if (field == L"#130") return L"static";
    return field;
}

struct ExpectedItem {
    DWORD id;
    const wchar_t* windowClass;
    short x, y, cx, cy;
    const char* text;
    DWORD styleBits;
};

void CheckTemplate(HMODULE module, int id, short cx, short cy, const char* caption,
                   DWORD dialogStyle, DWORD dialogExStyle,
                   const std::vector<ExpectedItem>& expected) {
    Template t;
    ASSERT_TRUE(ParseTemplate(module, id, t)) << "template " << id;
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_TRUE(t.caption == Wide(caption)) << id;
    EXPECT_EQ(t.style & dialogStyle, dialogStyle) << id;
    EXPECT_EQ(t.style & WS_VISIBLE, dialogStyle & WS_VISIBLE) << id;
    EXPECT_EQ(t.exStyle, dialogExStyle) << id;
    EXPECT_TRUE(t.font == Wide("宋体")) << id;
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.charset, DEFAULT_CHARSET);
    ASSERT_EQ(t.items.size(), expected.size()) << id;
    for (size_t i = 0; i < expected.size(); ++i) {
        const Item& item = t.items[i];
        const ExpectedItem& want = expected[i];
        SCOPED_TRACE("template " + std::to_string(id) + " control " + std::to_string(want.id));
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(
            _wcsicmp(ClassName(item.windowClass).c_str(), ClassName(want.windowClass).c_str()), 0);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_TRUE(item.text == Wide(want.text));
        EXPECT_EQ(item.style & want.styleBits, want.styleBits);
    }
}

// The executables whose resources are checked: this test program (linked
// with the same resources) and, when it is built, the program itself.
std::vector<std::string> Modules() {
    std::vector<std::string> modules = {""};
#ifdef MORVANE_PROGRAM
    modules.push_back(testing_support::BuildBinDir() + MORVANE_PROGRAM);
#endif
    return modules;
}

class Module {
public:
    explicit Module(const std::string& path)
        : m_path(path),
          m_handle(path.empty() ? GetModuleHandleA(nullptr)
                                : LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    }
    ~Module() {
        if (!m_path.empty() && m_handle) FreeLibrary(m_handle);
    }
    HMODULE get() const { return m_handle; }
    std::string file() const {
        if (!m_path.empty()) return m_path;
        char path[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        return path;
    }

private:
    std::string m_path;
    HMODULE m_handle;
};

}  // namespace

TEST(Resources_Dialogs, TemplatesHoldEveryControl) {
    for (const std::string& path : Modules()) {
        Module module(path);
        ASSERT_TRUE(module.get()) << path;
        SCOPED_TRACE(module.file());
        CheckTemplate(
            module.get(), IDD_MORVANE_DIALOG, 233, 98, "Morvane",
            WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME,
            WS_EX_APPWINDOW,
            {
                {IDC_CHECK_LOCK, L"#128", 16, 14, 72, 10, "锁定音量不高于",
                 BS_AUTOCHECKBOX | WS_TABSTOP},
                {IDC_SLIDER, L"msctls_trackbar32", 26, 31, 166, 17, "",
                 TBS_AUTOTICKS | TBS_BOTH | WS_TABSTOP},
                {IDC_BUTTON_PASSWORD, L"#128", 16, 72, 50, 14, "密码...", WS_TABSTOP},
                {IDC_STATIC_VALUE, L"#130", 199, 35, 13, 8, "100", SS_LEFT | WS_GROUP},
            });
        CheckTemplate(
            module.get(), IDD_PASSWORD, 186, 98, "修改密码",
            WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0,
            {
                {IDC_EDIT_PASSWORD, L"#129", 68, 23, 82, 14, "",
                 ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
                {IDOK, L"#128", 68, 77, 50, 14, "确定", BS_DEFPUSHBUTTON | WS_TABSTOP},
                {IDCANCEL, L"#128", 129, 77, 50, 14, "取消", WS_TABSTOP},
                {IDC_STATIC_LABEL, L"#130", 14, 26, 48, 8, "新密码：", SS_RIGHT | WS_GROUP},
            });
    }
}

TEST(Resources_Icons, MainAndTrayIconsHaveTheirSizes) {
    // Each size display scaling asks for has an image of its own, so that
    // none is stretched; the window's icon also has the file browser's 256.
    struct Case {
        int id;
        std::vector<int> sizes;
    };
    const Case cases[] = {{IDI_MAIN, {16, 20, 24, 32, 48, 256}},
                          {IDI_TRAY, {16, 20, 24, 32, 48}},
                          {IDI_TRAY_WARNING, {16, 20, 24, 32, 48}}};
    for (const std::string& path : Modules()) {
        Module module(path);
        ASSERT_TRUE(module.get()) << path;
        for (const Case& c : cases) {
            SCOPED_TRACE("icon " + std::to_string(c.id) + " in " + module.file());
            HRSRC group = FindResourceA(module.get(), MAKEINTRESOURCEA(c.id), MAKEINTRESOURCEA(14));
            ASSERT_TRUE(group);
            const BYTE* data =
                static_cast<const BYTE*>(LockResource(LoadResource(module.get(), group)));
            ASSERT_TRUE(data);
            // GRPICONDIR: reserved, type 1, count; then 14-byte entries
            // (width, height: 0 for 256; ...; bits per pixel at 6; image id at 12).
            const WORD* header = reinterpret_cast<const WORD*>(data);
            ASSERT_EQ(header[1], 1);
            ASSERT_EQ(header[2], c.sizes.size());
            for (size_t i = 0; i < c.sizes.size(); ++i) {
                const int size = c.sizes[i];
                SCOPED_TRACE(size);
                const BYTE* entry = data + 6 + 14 * i;
                EXPECT_EQ(entry[0], size % 256);
                EXPECT_EQ(entry[1], size % 256);
                EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), 32) << "bits per pixel";
                // The image itself is of that size: a bitmap's header gives
                // its width, a PNG's its IHDR (big-endian).
                HRSRC found = FindResourceA(
                    module.get(), MAKEINTRESOURCEA(*reinterpret_cast<const WORD*>(entry + 12)),
                    MAKEINTRESOURCEA(3));
                ASSERT_TRUE(found);
                const BYTE* image =
                    static_cast<const BYTE*>(LockResource(LoadResource(module.get(), found)));
                const bool png = memcmp(image, "\x89PNG", 4) == 0;
                EXPECT_EQ(png, size == 256) << "PNG only where it saves room";
                // 8 bits a channel, colour type 6 (RGBA): the only PNG icons expect.
                if (png) {
                    EXPECT_EQ(image[24] << 8 | image[25], 8 << 8 | 6);
                }
                const LONG width = png ? (image[18] << 8 | image[19])
                                       : reinterpret_cast<const BITMAPINFOHEADER*>(image)->biWidth;
                EXPECT_EQ(width, size);
                if (!path.empty()) continue;
                // The system reads it at that size.
                HICON icon = static_cast<HICON>(
                    LoadImageA(module.get(), MAKEINTRESOURCEA(c.id), IMAGE_ICON, size, size, 0));
                ICONINFO info = {};
                BITMAP bitmap = {};
                ASSERT_TRUE(icon && GetIconInfo(icon, &info));
                GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
                EXPECT_EQ(bitmap.bmWidth, size);
                if (info.hbmColor) DeleteObject(info.hbmColor);
                DeleteObject(info.hbmMask);
                DestroyIcon(icon);
            }
        }
    }
}

TEST(Resources_Manifest, RequestsCommonControlsSixTheInvokersRightsAndDpiAwareness) {
#ifdef _WIN64
    const char* arch = "processorArchitecture=\"amd64\"";
#else
    const char* arch = "processorArchitecture=\"x86\"";
#endif
    // In this order, each after the one before. Wine treats every program as
    // DPI-aware whatever it declares, so the declaration is checked here.
    const char* const parts[] = {
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        arch,
        "</dependency>",
        // Without it the 32-bit program's writes under Program Files would
        // go to each account's VirtualStore.
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "</trustInfo>",
        "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",  // 7
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",  // 8
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",  // 8.1
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",  // 10 and 11
        "</compatibility>",
        "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
        "<windowSettings>",
        "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
        "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
        "PerMonitorV2",
        "</windowSettings>",
        "</application>",
    };
    for (const std::string& path : Modules()) {
        Module module(path);
        ASSERT_TRUE(module.get()) << path;
        HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
        ASSERT_TRUE(found);
        const char* data =
            static_cast<const char*>(LockResource(LoadResource(module.get(), found)));
        const std::string manifest(data, SizeofResource(module.get(), found));
        size_t at = 0;
        for (const char* part : parts) {
            at = manifest.find(part, at);
            ASSERT_NE(at, std::string::npos) << part << "\n" << manifest;
        }
    }
    // The manifest takes effect: the side-by-side version 6 is the one loaded.
    char loaded[MAX_PATH] = "";
    HMODULE controls = LoadLibraryA("comctl32.dll");
    ASSERT_TRUE(controls);
    ASSERT_TRUE(GetModuleFileNameA(controls, loaded, MAX_PATH));
    EXPECT_NE(CharLowerA(loaded), nullptr);
    EXPECT_NE(std::string(loaded).find("winsxs"), std::string::npos) << loaded;
}

TEST(Resources_Version, FieldsAsPublished) {
    for (const std::string& path : Modules()) {
        Module module(path);
        const std::string file = module.file();
        SCOPED_TRACE(file);
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
        ASSERT_GT(size, 0u);
        std::vector<char> data(size);
        ASSERT_TRUE(GetFileVersionInfoA(file.c_str(), 0, size, data.data()));

        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
        EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
        EXPECT_EQ(fixed->dwFileVersionLS, 0x00050019u);
        EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
        EXPECT_EQ(fixed->dwProductVersionLS, 0x00050019u);

        WORD* translation = nullptr;
        ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                                   reinterpret_cast<void**>(&translation), &length));
        ASSERT_EQ(length, 4u);
        EXPECT_EQ(translation[0], 0x0804) << "Chinese (PRC)";
        EXPECT_EQ(translation[1], 1200) << "Unicode";

        auto value = [&](const char* name, bool* present) {
            char* text = nullptr;
            const std::string query = std::string("\\StringFileInfo\\080404b0\\") + name;
            *present = VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&text),
                                      &length) != FALSE;
            return *present && text && length ? std::string(text) : std::string();
        };
        bool present = false;
        EXPECT_EQ(value("FileDescription", &present), "Morvane");
        EXPECT_FALSE(value("CompanyName", &present).empty());
        EXPECT_FALSE(value("LegalCopyright", &present).empty());
        for (const char* empty :
             {"Comments", "FileVersion", "InternalName", "LegalTrademarks", "OriginalFilename",
              "PrivateBuild", "ProductName", "ProductVersion", "SpecialBuild"})
            EXPECT_EQ(value(empty, &present), "") << empty;
    }
}
