#include "ui/window.h"

#include <string.h>

#include "app/installer_state.h"
#include "runtime/memory.h"
#include "ui/event.h"

ToolkitRecord Toolkit;

static const char TEMPLATE_CLASS_NAME[] = "TemplateClass";
static const char WINDOW_CLASS_FORMAT[] = "WindowClass_%ld";
constexpr WORD WINDOW_ICON_ID = 1;

// Tab and Shift+Tab, the same for every window.
static const ACCEL WINDOW_ACCELERATORS[WINDOW_ACCELERATOR_COUNT] = {
    {FVIRTKEY | FNOINVERT, VK_TAB, CMD_FOCUS_NEXT},
    {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, CMD_FOCUS_PREVIOUS},
};

static void WindowClassNameFormat(int32_t number)
{
    long value = number;
    wvsprintfA(Toolkit.ClassName, WINDOW_CLASS_FORMAT, reinterpret_cast<va_list>(&value));
}

// The slot of a number inside the table, or none.
static WindowSlot* WindowSlotOf(int32_t number)
{
    if (number < 0 || number >= Toolkit.WindowTable.Capacity)
        return nullptr;
    return &Toolkit.WindowTable.Slots[number];
}

// Makes room for `number`; 0 when the heap cannot, and the table stays as it
// was, so a failed growth never loses the windows already open.
static int WindowTableReserve(int32_t number)
{
    if (number < Toolkit.WindowTable.Capacity)
        return 1;
    void* const grown = RuntimeTableResize(
        Toolkit.WindowTable.Slots, SIZE_T(number + WINDOW_TABLE_GROWTH + WINDOW_TABLE_SPARE) * sizeof(WindowSlot));
    if (!grown)
        return 0;
    Toolkit.WindowTable.Slots = static_cast<WindowSlot*>(grown);
    Toolkit.WindowTable.Capacity = number + WINDOW_TABLE_GROWTH;
    return 1;
}

DWORD WindowStyle(uint32_t flags, WindowPlacement* placement)
{
    *placement = WINDOW_AS_GIVEN;
    if (flags & WINDOW_CENTRE_SCREEN) {
        *placement = WINDOW_ON_SCREEN;
        flags &= ~WINDOW_CENTRE_SCREEN;
    }
    if (flags & WINDOW_CENTRE_ACTIVE) {
        *placement = WINDOW_ON_ACTIVE;
        flags &= ~WINDOW_CENTRE_ACTIVE;
    }
    // A caller that names no style of its own still gets a caption.
    if (flags == 0 || flags == WINDOW_HIDDEN)
        flags |= WS_CAPTION;
    return flags ^ WINDOW_HIDDEN;
}

// Halves are taken by an arithmetic shift, so odd sizes round down alike on
// both sides of a subtraction.
static POINT WindowCentreOnScreen(int32_t width, int32_t height)
{
    const int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const int32_t w = width < screenWidth ? width : screenWidth;
    const int32_t h = height < screenHeight ? height : screenHeight;
    return POINT{(screenWidth >> 1) - (w >> 1), (screenHeight >> 1) - (h >> 1)};
}

static POINT WindowCentreOnActive(int32_t width, int32_t height)
{
    const HWND active = GetActiveWindow();
    if (!active)
        return WindowCentreOnScreen(width, height);
    RECT r = {};
    GetWindowRect(active, &r);
    POINT at = {r.left - (width >> 1) + ((r.right - r.left) >> 1),
                r.top - (height >> 1) + ((r.bottom - r.top) >> 1)};
    if (at.x < 0)
        at.x = 0;
    if (at.y < 0)
        at.y = 0;
    return at;
}

static void WindowAcceleratorsBuild(WindowSlot* slot)
{
    ACCEL* const entries = static_cast<ACCEL*>(
        HeapAlloc(InstallerState.RuntimeHeap, 0, sizeof WINDOW_ACCELERATORS));
    if (!entries)
        return;
    memcpy(entries, WINDOW_ACCELERATORS, sizeof WINDOW_ACCELERATORS);
    slot->AcceleratorCount = WINDOW_ACCELERATOR_COUNT;
    slot->AcceleratorEntries = entries;
    slot->AcceleratorTable = CreateAcceleratorTableA(entries, WINDOW_ACCELERATOR_COUNT);
}

HWND WindowOpen(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                const char* title)
{
    if (number < 0 || !WindowTableReserve(number))
        return nullptr;
    WindowClose(number);
    WindowClassNameFormat(number);
    // A class left registered by a failed open makes this fail; the window is
    // then created in that class, whose attributes are the same.
    RegisterClassA(&Toolkit.WindowClassTemplate);

    WindowPlacement placement;
    const DWORD style = WindowStyle(flags, &placement);
    RECT r = {x, y, x + width, y + height};
    AdjustWindowRect(&r, style, FALSE);
    const int32_t outerWidth = r.right - r.left;
    const int32_t outerHeight = r.bottom - r.top;
    POINT at = {x, y};
    if (placement == WINDOW_ON_SCREEN)
        at = WindowCentreOnScreen(outerWidth, outerHeight);
    else if (placement == WINDOW_ON_ACTIVE)
        at = WindowCentreOnActive(outerWidth, outerHeight);

    const HWND window = CreateWindowExA(0, Toolkit.ClassName, title, style, at.x, at.y, outerWidth,
                                        outerHeight, nullptr, nullptr, InstallerState.Instance, nullptr);
    // Looked up again: messages sent during creation may have run any code,
    // and a window opened meanwhile may have moved the table. The number is
    // still inside it: the table only ever grows.
    WindowSlot* const slot = &Toolkit.WindowTable.Slots[number];
    slot->Handle = window;
    if (!window)
        return nullptr;
    Toolkit.CurrentWindow = window;
    WindowAcceleratorsBuild(slot);
    return window;
}

HWND WindowHandle()
{
    return Toolkit.CurrentWindow;
}

void WindowClose(int32_t number)
{
    WindowSlot* const slot = WindowSlotOf(number);
    if (!slot || !slot->Handle)
        return;
    // Freed first, so that messages sent while the window goes find it closed.
    const HWND window = slot->Handle;
    slot->Handle = nullptr;
    DestroyWindow(window);
    WindowClassNameFormat(number);
    UnregisterClassA(Toolkit.ClassName, InstallerState.Instance);
    if (slot->AcceleratorCount != 0) {
        HeapFree(InstallerState.RuntimeHeap, 0, slot->AcceleratorEntries);
        DestroyAcceleratorTable(slot->AcceleratorTable);
        slot->AcceleratorCount = 0;
        slot->AcceleratorEntries = nullptr;
        slot->AcceleratorTable = nullptr;
    }
}

void WindowCloseAll()
{
    for (int32_t number = Toolkit.WindowTable.Capacity - 1; number >= 0; --number)
        WindowClose(number);
}

HACCEL WindowAccelerators(HWND window)
{
    if (!window)
        return nullptr;
    for (int32_t number = 0; number < Toolkit.WindowTable.Capacity; ++number) {
        const WindowSlot& slot = Toolkit.WindowTable.Slots[number];
        if (slot.Handle == window)
            return slot.AcceleratorTable;
    }
    return nullptr;
}

void WindowInit()
{
    // The window and event state is everything before the gadget table.
    memset(&Toolkit, 0, offsetof(ToolkitRecord, GadgetTable));
    Toolkit.WindowTable.Slots = static_cast<WindowSlot*>(
        HeapAlloc(InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY,
                  (WINDOW_TABLE_INITIAL + WINDOW_TABLE_SPARE) * sizeof(WindowSlot)));
    if (Toolkit.WindowTable.Slots)
        Toolkit.WindowTable.Capacity = WINDOW_TABLE_INITIAL;

    // Made once: later changes of the system colour are not followed.
    const LOGBRUSH face = {BS_SOLID, GetSysColor(COLOR_BTNFACE), 0};
    Toolkit.Background = CreateBrushIndirect(&face);

    WNDCLASSA& t = Toolkit.WindowClassTemplate;
    t.lpfnWndProc = ToolkitWindowProc;
    t.hInstance = InstallerState.Instance;
    t.hIcon = LoadIconA(InstallerState.Instance, MAKEINTRESOURCEA(WINDOW_ICON_ID));
    t.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    t.hbrBackground = Toolkit.Background;
    t.lpszClassName = TEMPLATE_CLASS_NAME;
    RegisterClassA(&t);
    // From now on every registration carries the name of the window at hand.
    t.lpszClassName = Toolkit.ClassName;
}
