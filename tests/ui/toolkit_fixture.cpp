#include "tests/ui/toolkit_fixture.h"

#include <shlobj.h>
#include <string.h>

void ToolkitTest::SetUp()
{
    ASSERT_EQ(1, InstallerStartup(GetModuleHandleA(nullptr)));
}

void ToolkitTest::TearDown()
{
    InstallerShutdown();
    // Leave no message of this test for the next one.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

int32_t EventNext(DWORD timeoutMs)
{
    MSG message;
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) &&
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
            WAIT_TIMEOUT)
        return -1;
    // Sent messages were handled by the peek; the queue may be empty again.
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
        return EventNext(timeoutMs);
    return EventWait();
}

int32_t EventUntil(int32_t wanted, DWORD timeoutMs)
{
    const DWORD end = GetTickCount() + timeoutMs;
    while (int32_t(end - GetTickCount()) > 0) {
        const int32_t event = EventNext(end - GetTickCount());
        if (event == wanted)
            return wanted;
        if (event == -1)
            return -1;
    }
    return -1;
}

void EventsDrain()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE))
        EventWait();
}

void WindowActivate(HWND window)
{
    SetForegroundWindow(window);
    SetActiveWindow(window);
    EventsDrain();
}

static void InputSend(INPUT* inputs, UINT count)
{
    SendInput(count, inputs, sizeof(INPUT));
    Sleep(50);
}

void InputClick(POINT at)
{
    SetCursorPos(at.x, at.y);
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].type = INPUT_MOUSE;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    InputSend(inputs, 2);
}

static INPUT KeyInput(WORD key, bool up)
{
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = WORD(MapVirtualKeyA(key, 0));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

void InputKey(WORD key, bool shift, bool alt)
{
    INPUT inputs[6];
    UINT count = 0;
    if (shift)
        inputs[count++] = KeyInput(VK_SHIFT, false);
    if (alt)
        inputs[count++] = KeyInput(VK_MENU, false);
    inputs[count++] = KeyInput(key, false);
    inputs[count++] = KeyInput(key, true);
    if (alt)
        inputs[count++] = KeyInput(VK_MENU, true);
    if (shift)
        inputs[count++] = KeyInput(VK_SHIFT, true);
    InputSend(inputs, count);
}

std::string ClassOf(HWND window)
{
    char name[100] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    char text[100] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void ExpectTopLevel(HWND window, LONG style, POINT corner, SIZE client, const char* title)
{
    EXPECT_EQ(style, GetWindowLongA(window, GWL_STYLE) & ~WS_CLIPSIBLINGS & 0xFFFF0000) << title;
    RECT outer = {}, inner = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &inner);
    EXPECT_EQ(corner.x, outer.left) << title;
    EXPECT_EQ(corner.y, outer.top) << title;
    EXPECT_EQ(client.cx, inner.right) << title;
    EXPECT_EQ(client.cy, inner.bottom) << title;
    EXPECT_EQ(title, TextOf(window));
}

POINT ControlCentre(HWND control)
{
    RECT r;
    GetWindowRect(control, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// Handles this thread's messages for a while: the helper's actions run on
// the dialog's own thread, which must go on working while they wait.
static void DialogPump(DWORD ms)
{
    const DWORD end = GetTickCount() + ms;
    MSG message;
    while (int32_t(end - GetTickCount()) > 0) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - GetTickCount(), QS_ALLINPUT);
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

static BOOL CALLBACK DialogFind(HWND window, LPARAM data)
{
    char className[16];
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(data) = window;
    return FALSE;
}

static BOOL CALLBACK ChildTextCollect(HWND child, LPARAM data)
{
    DialogHelper* const helper = reinterpret_cast<DialogHelper*>(data);
    char text[200] = {};
    GetWindowTextA(child, text, sizeof text);
    const int used = lstrlenA(helper->ChildTexts);
    if (used + lstrlenA(text) + 3 >= int(sizeof helper->ChildTexts))
        return FALSE;
    if (used == 0)
        lstrcatA(helper->ChildTexts, "|");
    lstrcatA(helper->ChildTexts, text);
    lstrcatA(helper->ChildTexts, "|");
    return TRUE;
}

// The browser's edit field shows the name of the item selected in its tree.
static void BrowserFolderText(HWND dialog, char* text, int size)
{
    text[0] = '\0';
    const HWND edit = FindWindowExA(dialog, nullptr, "Edit", nullptr);
    if (edit)
        GetWindowTextA(edit, text, size);
}

// Selects a path in the folder browser. Under Wine a selection sent early
// is now and then lost; it is sent again until the edit field follows.
static void BrowserSelect(HWND dialog, const char* path)
{
    char before[MAX_PATH];
    char now[MAX_PATH];
    BrowserFolderText(dialog, before, MAX_PATH);
    for (int tries = 0; tries < 10; ++tries) {
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path));
        DialogPump(200);
        BrowserFolderText(dialog, now, MAX_PATH);
        if (lstrcmpA(before, now) != 0)
            return;
    }
}

// Whether the browser's edit field names the folder of `path`: its last
// component, or "(X:)" for the root of drive X.
static bool BrowserShows(HWND dialog, const char* path)
{
    char folder[MAX_PATH];
    lstrcpynA(folder, path, MAX_PATH);
    int length = lstrlenA(folder);
    if (length > 3 && folder[length - 1] == '\\')
        folder[--length] = '\0';
    char root[] = "(X:)";
    root[1] = folder[0];
    const char* const name = length == 3 ? root : strrchr(folder, '\\') + 1;
    char shown[MAX_PATH];
    // Under Wine the browser now and then drops a selection made while it
    // starts up, and shows the desktop instead; give it time first.
    for (int tries = 0; tries < 5; ++tries) {
        BrowserFolderText(dialog, shown, MAX_PATH);
        if (strstr(shown, name))
            return true;
        DialogPump(200);
    }
    return false;
}

static void DialogAct(DialogHelper* helper)
{
    const HWND dialog = helper->Dialog;
    switch (helper->Action) {
    case DIALOG_SELECT_AND_OK:
        SendMessageA(dialog, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(helper->Pidl));
        DialogPump(200);
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        break;
    case DIALOG_SELECT_PATH_AND_OK:
        BrowserSelect(dialog, helper->Path);
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        break;
    case DIALOG_PRESS_OK:
        if (helper->Path && !BrowserShows(dialog, helper->Path)) {
            helper->Reselected = true;
            BrowserSelect(dialog, helper->Path);
        }
        PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        break;
    case DIALOG_PRESS_CANCEL:
        PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        break;
    case DIALOG_KEY_ESCAPE:
        SetForegroundWindow(dialog);
        InputKey(VK_ESCAPE);
        break;
    }
}

// The helper's steps, one per tick of a timer on the test's own thread: the
// modal loop under test dispatches the ticks, so the helper needs no thread
// of its own (32-bit Wine under user-mode emulation crashes or hangs when a
// process has two threads of its own besides the main one).
constexpr UINT HELPER_TICK_MS = 50;
constexpr DWORD HELPER_FIND_MS = 10000;  // for the dialog to appear
constexpr DWORD HELPER_SETTLE_MS = 300;  // its own initialisation (the browser fills its tree)
constexpr DWORD HELPER_CLOSE_MS = 2000;  // for an action to close it, before the next try
constexpr DWORD HELPER_AFTER_MS = 200;   // the modal call returns some time after its window is gone

static DialogHelper* HelperCurrent;

static void DialogRecord(DialogHelper* helper)
{
    helper->Owner = GetWindow(helper->Dialog, GW_OWNER);
    GetWindowTextA(helper->Dialog, helper->Title, sizeof helper->Title);
    GetDlgItemTextA(helper->Dialog, 0xFFFF, helper->Text, sizeof helper->Text);
    EnumChildWindows(helper->Dialog, ChildTextCollect, reinterpret_cast<LPARAM>(helper));
    if (helper->PostTarget)
        PostMessageA(helper->PostTarget, BM_CLICK, 0, 0);
}

// Finds the dialog, lets it settle, records it and acts; acts once more on
// a dialog still up after a while; then closes it by force, so that a test
// is never left blocked in a modal loop.
static void DialogStep(DialogHelper* helper)
{
    const DWORD waited = GetTickCount() - helper->Since;
    switch (helper->Step) {
    case HELPER_FINDING:
        EnumThreadWindows(GetCurrentThreadId(), DialogFind, reinterpret_cast<LPARAM>(&helper->Dialog));
        if (helper->Dialog)
            helper->Step = HELPER_SETTLING;
        else if (waited >= HELPER_FIND_MS)
            helper->Step = HELPER_DONE;
        else
            return;
        break;
    case HELPER_SETTLING:
        if (waited < HELPER_SETTLE_MS)
            return;
        DialogRecord(helper);
        DialogPump(100);
        DialogAct(helper);
        helper->Step = HELPER_ACTED;
        break;
    case HELPER_ACTED:
    case HELPER_ACTED_AGAIN:
        if (IsWindow(helper->Dialog) && waited < HELPER_CLOSE_MS)
            return;
        if (IsWindow(helper->Dialog) && helper->Step == HELPER_ACTED) {
            DialogAct(helper);
            helper->Step = HELPER_ACTED_AGAIN;
        } else {
            if (IsWindow(helper->Dialog)) {
                helper->Forced = true;
                PostMessageA(helper->Dialog, WM_COMMAND, IDCANCEL, 0);
            }
            helper->Step = helper->AfterTarget ? HELPER_AFTER : HELPER_DONE;
        }
        break;
    case HELPER_AFTER:
        if (waited < HELPER_AFTER_MS)
            return;
        PostMessageA(helper->AfterTarget, BM_CLICK, 0, 0);
        helper->Step = HELPER_DONE;
        break;
    case HELPER_DONE:
        return;
    }
    helper->Since = GetTickCount();
}

static void CALLBACK DialogTick(HWND, UINT, UINT_PTR, DWORD)
{
    // The actions pump messages, which can bring the next tick inside this one.
    DialogHelper* const helper = HelperCurrent;
    if (!helper || helper->Busy)
        return;
    helper->Busy = true;
    DialogStep(helper);
    helper->Busy = false;
}

void DialogHelper::Run()
{
    HelperCurrent = this;
    Since = GetTickCount();
    Timer = SetTimer(nullptr, 0, HELPER_TICK_MS, DialogTick);
}

bool DialogHelper::Join()
{
    KillTimer(nullptr, Timer);
    HelperCurrent = nullptr;
    return Dialog != nullptr && !Forced;
}
