#include "ui/gadget.h"

#include <string.h>

#include "app/installer_state.h"
#include "runtime/memory.h"

static const char BUTTON_CLASS[] = "BUTTON";
static const char TEXT_CLASS[] = "STATIC";
static const char COMMON_CONTROLS_LIBRARY[] = "comctl32.dll";
static const char COMMON_CONTROLS_INIT[] = "InitCommonControls";

// Makes room for `number`; 0 when the heap cannot, and the table stays as it
// was.
static int GadgetTableReserve(int32_t number)
{
    if (number < Toolkit.GadgetTable.Capacity)
        return 1;
    void* const grown = RuntimeTableResize(
        Toolkit.GadgetTable.Slots, SIZE_T(number + GADGET_TABLE_GROWTH + GADGET_TABLE_SPARE) * sizeof(GadgetSlot));
    if (!grown)
        return 0;
    Toolkit.GadgetTable.Slots = static_cast<GadgetSlot*>(grown);
    Toolkit.GadgetTable.Capacity = number + GADGET_TABLE_GROWTH;
    return 1;
}

// Window style of each GadgetType; the text is of the STATIC class and the
// text family, the frame and the button of the BUTTON class and family.
static const DWORD GADGET_STYLES[] = {GADGET_FRAME_STYLE, GADGET_TEXT_STYLE, GADGET_BUTTON_STYLE};

HWND GadgetMake(GadgetType type, int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                const char* text)
{
    if (number < 0 || !GadgetTableReserve(number))
        return nullptr;
    const bool isText = type == GADGET_TYPE_TEXT;
    const HWND control = CreateWindowExA(0, isText ? TEXT_CLASS : BUTTON_CLASS, text, GADGET_STYLES[type], x, y,
                                         width, height, Toolkit.GadgetParent,
                                         reinterpret_cast<HMENU>(INT_PTR(number)), InstallerState.Instance, nullptr);
    GadgetSlot& slot = Toolkit.GadgetTable.Slots[number];
    slot.Handle = control;
    slot.Kind = isText ? GADGET_KIND_TEXT : GADGET_KIND_BUTTON;
    if (control)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(Toolkit.GadgetFont), TRUE);
    return control;
}

HWND GadgetFrame(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text)
{
    return GadgetMake(GADGET_TYPE_FRAME, number, x, y, width, height, text);
}

HWND GadgetText(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text)
{
    return GadgetMake(GADGET_TYPE_TEXT, number, x, y, width, height, text);
}

HWND GadgetButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text)
{
    return GadgetMake(GADGET_TYPE_BUTTON, number, x, y, width, height, text);
}

HWND GadgetListCreate(HWND window)
{
    Toolkit.GadgetParent = window;
    return window;
}

// The common controls library comes from the system folder only: a copy
// planted beside the executable (a downloads folder, say) must never load.
// LOAD_LIBRARY_SEARCH_SYSTEM32 is unknown to old unpatched systems; there the
// full path does the same.
static HMODULE CommonControlsLoad()
{
    const HMODULE library = LoadLibraryExA(COMMON_CONTROLS_LIBRARY, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library)
        return library;
    char path[MAX_PATH + sizeof COMMON_CONTROLS_LIBRARY];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    path[length] = '\\';
    memcpy(path + length + 1, COMMON_CONTROLS_LIBRARY, sizeof COMMON_CONTROLS_LIBRARY);
    return LoadLibraryA(path);
}

// Kept loaded for the life of the process: the controls it registers must stay.
static void CommonControlsInit()
{
    const HMODULE library = CommonControlsLoad();
    if (!library)
        return;
    using InitFunction = void(WINAPI*)();
    const InitFunction init = reinterpret_cast<InitFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, COMMON_CONTROLS_INIT)));
    if (init)
        init();
}

void GadgetInit()
{
    memset(&Toolkit.GadgetTable, 0, sizeof Toolkit - offsetof(ToolkitRecord, GadgetTable));
    Toolkit.GadgetTable.Slots = static_cast<GadgetSlot*>(
        HeapAlloc(InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY,
                  (GADGET_TABLE_INITIAL + GADGET_TABLE_SPARE) * sizeof(GadgetSlot)));
    if (Toolkit.GadgetTable.Slots)
        Toolkit.GadgetTable.Capacity = GADGET_TABLE_INITIAL;
    Toolkit.GadgetFont = GetStockObject(DEFAULT_GUI_FONT);
    CommonControlsInit();
}
