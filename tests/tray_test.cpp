// The tray icon, its menu and the resources they load.
#include <gtest/gtest.h>

#include "app/app.h"
#include "app/app_testing.h"
#include "app/resource.h"
#include "test_support.h"

namespace {

HWND CreateOwner()
{
    return CreateTestWindow("QuorvixTrayTest", DefWindowProcA);
}

HICON Load(const char* name)
{
    return static_cast<HICON>(LoadImageA(GetModuleHandleA(nullptr), name, IMAGE_ICON, 16, 16, LR_SHARED));
}

TEST(TrayRecord, HasTheFirstFormAndCutsTheTipTo63)
{
    const std::string tip(100, 't');
    NOTIFYICONDATAA d = TrayRecord(reinterpret_cast<HWND>(0x1234), 0, NIF_ICON, nullptr, 0, tip.c_str());
    // The record holds a window and an icon handle: 88 bytes on x86, 104 on x64.
    EXPECT_EQ(d.cbSize, sizeof(void*) == 8 ? 104u : 88u);
    EXPECT_EQ(std::string(d.szTip), std::string(63, 't'));
    EXPECT_EQ(d.uFlags, static_cast<UINT>(NIF_ICON));
    d = TrayRecord(nullptr, 0, 0, nullptr, 0, nullptr);
    EXPECT_EQ(d.szTip[0], '\0');
}

TEST(TrayIcon, IsAddedSwitchedAndDeleted)
{
    HWND owner = CreateOwner();
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(TrayAdd(owner, 0, Load("XNOTCONNECTED"), MSG_TRAYNOTIFY, "Quorvix"));
    EXPECT_TRUE(TrayModify(owner, 0, NIF_ICON, Load("MAINICON"), "Quorvix"));
    EXPECT_TRUE(TrayModify(owner, 0, NIF_ICON, Load("XRECIVE"), "Quorvix"));
    EXPECT_TRUE(TrayDelete(owner, 0));
    // Gone: changing it again fails.
    EXPECT_FALSE(TrayModify(owner, 0, NIF_ICON, Load("MAINICON"), "Quorvix"));
    DestroyWindow(owner);
}

int WidthOf(HICON icon)
{
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) return -1;
    BITMAP bm = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bm.bmWidth;
}

// Each picture has an image drawn for 100, 125, 150 and 200 % display
// scale, and the tray gets the one of the system's small-icon size.
TEST(Resources, TheFourPicturesHoldEveryScalesSizeAndLoadAtTheSystemsOwn)
{
    const char* names[] = {"MAINICON", "XNOTCONNECTED", "XRECIVE", "XERROR"};
    const int ids[] = {IDI_MAINICON_IMAGE, IDI_NOTCONNECTED_IMAGE, IDI_RECEIVE_IMAGE, IDI_ERROR_IMAGE};
    std::string images[4];
    for (int i = 0; i < 4; ++i) {
        HRSRC group = FindResourceA(nullptr, names[i], MAKEINTRESOURCEA(14));
        ASSERT_NE(group, nullptr) << names[i];
        const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
        const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
        std::vector<int> sizes;
        for (WORD e = 0; e < count; ++e) {
            const BYTE* entry = dir + 6 + 14 * e;
            sizes.push_back(entry[0]);
            const WORD id = *reinterpret_cast<const WORD*>(entry + 12);
            HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(3));
            ASSERT_NE(image, nullptr) << names[i] << " " << entry[0];
            EXPECT_EQ(SizeofResource(nullptr, image), *reinterpret_cast<const DWORD*>(entry + 8));
        }
        EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32})) << names[i];
        HRSRC image = FindResourceA(nullptr, MAKEINTRESOURCEA(ids[i]), MAKEINTRESOURCEA(3));
        ASSERT_NE(image, nullptr) << names[i];
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, image)));
        images[i].assign(bytes, SizeofResource(nullptr, image));
        EXPECT_EQ(images[i].size(), 40u + 64u + 512u + 128u) << names[i];
    }
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) EXPECT_NE(images[i], images[j]) << names[i] << " " << names[j];

    LoadTrayPictures(GetModuleHandleA(nullptr));
    for (HICON icon : {LinkStatePicture(LinkState::Connected), LinkStatePicture(LinkState::NotConnected),
                        LinkStatePicture(LinkState::KeyHeld), LinkStatePicture(LinkState::Error)})
        EXPECT_EQ(WidthOf(icon), GetSystemMetrics(SM_CXSMICON));
}

TEST(Resources, TheMenuIsRussianWithSettingsSeparatorAndExit)
{
    EXPECT_NE(FindResourceExA(nullptr, MAKEINTRESOURCEA(4), "MAINMENU",
                              MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)), nullptr);
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), "MAINMENU");
    ASSERT_NE(menu, nullptr);
    wchar_t text[64];
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"Dummy");
    HMENU popup = GetSubMenu(menu, 0);
    ASSERT_EQ(GetMenuItemCount(popup), 3);
    EXPECT_EQ(GetMenuItemID(popup, 0), 100u);
    EXPECT_EQ(GetMenuState(popup, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    EXPECT_EQ(GetMenuItemID(popup, 2), 200u);
    GetMenuStringW(popup, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"\u041D\u0430\u0441\u0442\u0440\u043E\u0439\u043A\u0438");
    GetMenuStringW(popup, 2, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), L"\u0412&\u044B\u0445\u043E\u0434");
    DestroyMenu(menu);
}

// The PE machine of an executable file, 0 if it cannot be read.
WORD MachineOf(const std::string& path)
{
    const std::string bytes = ReadBytes(path);
    if (bytes.size() < 0x40) return 0;
    const DWORD pe = *reinterpret_cast<const DWORD*>(bytes.data() + 0x3C);
    if (pe + 6 > bytes.size() || bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    return *reinterpret_cast<const WORD*>(bytes.data() + pe + 4);
}

// Windows refuses to start a program whose manifest names another
// architecture (Wine does not check): every built executable is of this
// build's architecture, and the program's manifest says which.
TEST(Resources, TheProgramsAreOfThisBuildsArchitectureAndTheManifestSaysSo)
{
    const bool x64 = sizeof(void*) == 8;
    const std::string built = ModuleDir() + "\\..\\";
    for (const char* exe : {"quorvix.exe", "quorvix-monitor.exe", "quorvix-check.exe"})
        EXPECT_EQ(MachineOf(built + exe), x64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386)
            << exe;
    HMODULE program = LoadLibraryExA((built + "quorvix.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr);
    HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(program, found))),
                               SizeofResource(program, found));
    FreeLibrary(program);
    const std::string mine = x64 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\"";
    size_t named = 0;
    for (size_t at = manifest.find("processorArchitecture="); at != std::string::npos;
         at = manifest.find("processorArchitecture=", at + 1)) {
        EXPECT_EQ(manifest.compare(at, mine.size(), mine), 0) << manifest.substr(at, 40);
        ++named;
    }
    // The program's own identity and its common-controls dependency.
    EXPECT_EQ(named, 2u) << manifest;
}

// Closes the popup menu as soon as its modal loop dispatches our message.
const UINT CLOSE_MENU = WM_APP + 50;
LRESULT CALLBACK MenuOwnerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == CLOSE_MENU) EndMenu();
    return DefWindowProcA(w, m, wp, lp);
}

// Microsoft's rule for notification-area menus: a WM_NULL to the owner after
// the menu closes, or the next opening may flash shut.
TEST(TrayMenu, LeavesAWmNullForItsOwnerWhenItCloses)
{
    HWND owner = CreateTestWindow("QuorvixMenuOwner", MenuOwnerProc);
    ASSERT_NE(owner, nullptr);
    MainWindow = owner;
    PostMessageA(owner, CLOSE_MENU, 0, 0);
    ShowTrayMenu(owner);
    bool null = false;
    MSG msg;
    while (PeekMessageA(&msg, owner, 0, 0, PM_REMOVE)) null = null || msg.message == WM_NULL;
    EXPECT_TRUE(null);
    MainWindow = nullptr;
    DestroyWindow(owner);
}

// What the popup held when it opened, as its owner is told.
std::vector<std::pair<UINT, std::wstring>> OpenedItems;
LRESULT CALLBACK RecordingOwnerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_INITMENUPOPUP) {
        HMENU popup = reinterpret_cast<HMENU>(wp);
        OpenedItems.clear();
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            wchar_t text[64] = L"";
            GetMenuStringW(popup, i, text, 64, MF_BYPOSITION);
            OpenedItems.push_back({GetMenuItemID(popup, i), text});
        }
    }
    return MenuOwnerProc(w, m, wp, lp);
}

// The keypad page's item opens under the settings item, in the menu's language.
TEST(TrayMenu, OpensWithTheKeypadItemUnderTheSettingsItem)
{
    HWND owner = CreateTestWindow("QuorvixMenuRecorder", RecordingOwnerProc);
    ASSERT_NE(owner, nullptr);
    MainWindow = owner;
    PostMessageA(owner, CLOSE_MENU, 0, 0);
    ShowTrayMenu(owner);
    MainWindow = nullptr;
    DestroyWindow(owner);
    ASSERT_EQ(OpenedItems.size(), 4u);
    EXPECT_EQ(OpenedItems[0].first, 100u);
    EXPECT_EQ(OpenedItems[1].first, 300u);
    EXPECT_EQ(OpenedItems[1].second, L"\u0422\u0435\u043B\u0435\u0444\u043E\u043D \u043F\u043E Wi-Fi\u2026");
    EXPECT_EQ(OpenedItems[3].first, 200u);
}

TEST(TrayMenu, OpeningItAThousandTimesLeaksNoMenus)
{
    HWND owner = CreateTestWindow("QuorvixMenuOwner", MenuOwnerProc);
    ASSERT_NE(owner, nullptr);
    MainWindow = owner;

    // The counter moves when menus are really left behind...
    const unsigned before = UserObjectsInUse();
    for (int i = 0; i < 50; ++i) LoadMenuA(GetModuleHandleA(nullptr), "MAINMENU");
    const unsigned leaked = UserObjectsInUse();
    EXPECT_GE(leaked, before + 50) << "the counter does not see leaked menus";
    // ...but not when objects made meanwhile are gone again, whatever slots
    // they took.
    std::vector<HMENU> burst;
    for (int i = 0; i < 300; ++i) burst.push_back(CreateMenu());
    for (HMENU m : burst) DestroyMenu(m);
    EXPECT_LE(UserObjectsInUse(), leaked + 4) << "the counter counts freed objects";

    // ...and stays put across a thousand openings of the tray menu, counted
    // from after the first (which leaves the system's own menu objects).
    PostMessageA(owner, CLOSE_MENU, 0, 0);
    ShowTrayMenu(owner);
    const unsigned start = UserObjectsInUse();
    for (int i = 0; i < 1000; ++i) {
        PostMessageA(owner, CLOSE_MENU, 0, 0);
        ShowTrayMenu(owner);
    }
    const unsigned end = UserObjectsInUse();
    // The count is the desktop's: a test beside this one may make a window or
    // two meanwhile (seen: 5), while a leak per opening would be a thousand.
    EXPECT_LE(end, start + 16) << "user objects grew from " << start << " to " << end;
    MainWindow = nullptr;
    DestroyWindow(owner);
}

} // namespace
