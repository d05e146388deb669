#include "runtime/strings.h"

#include "app/installer_state.h"

// What a missing string compares as.
const char EMPTY_TEXT[1] = {0};

static char* CopyText(char* destination, const char* text)
{
    while ((*destination = *text) != '\0') {
        ++destination;
        ++text;
    }
    return destination;
}

void StringAssign(char** variable, char* start)
{
    if (*variable)
        HeapFree(InstallerState.RuntimeHeap, 0, *variable);
    const uint32_t size = uint32_t(InstallerState.WorkspacePosition - start) + 1;
    *variable = static_cast<char*>(HeapAlloc(InstallerState.RuntimeHeap, 0, size));
    InstallerState.WorkspacePosition = start;
    if (*variable)
        CopyText(*variable, start);
}

void StringAppend(const char* text)
{
    if (!text) {
        // The temporary stays terminated.
        *InstallerState.WorkspacePosition = '\0';
        return;
    }
    InstallerState.WorkspacePosition = CopyText(InstallerState.WorkspacePosition, text);
}

void StringDuplicate(const char* text, char** variable)
{
    if (!text)
        return;
    // One byte more than the text and its zero need: the size the registry's
    // private copies (RegistryWriteString, the only caller) have always had.
    const uint32_t size = StringLength(text) + 2;
    char* const copy = static_cast<char*>(HeapAlloc(InstallerState.RuntimeHeap, 0, size));
    if (copy)
        CopyText(copy, text);
    *variable = copy;
}

void StringDiscard(char* copy)
{
    if (copy)
        HeapFree(InstallerState.RuntimeHeap, 0, copy);
}

uint32_t StringLength(const char* text)
{
    if (!text)
        return 0;
    uint32_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

int StringEquals(const char* a, const char* b)
{
    if (!a)
        a = EMPTY_TEXT;
    if (!b)
        b = EMPTY_TEXT;
    for (;; ++a, ++b) {
        if (*a != *b)
            return 0;
        if (*a == '\0')
            return 1;
    }
}

static char* Finish(char* end, char* start)
{
    *end = '\0';
    InstallerState.WorkspacePosition = end;
    return start;
}

char* StringSpaces(int32_t count, char* start)
{
    char* p = start;
    for (int32_t i = 0; i < count; ++i)
        *p++ = ' ';
    return Finish(p, start);
}

char* StringRight(const char* text, int32_t count, char* start)
{
    const int32_t length = int32_t(StringLength(text));
    if (count > length)
        count = length;
    if (count <= 0)
        return Finish(start, start);
    return Finish(CopyText(start, text + (length - count)), start);
}

char* PathFilePart(const char* path, char* start)
{
    if (!path)
        return Finish(start, start);
    const char* name = (*path == '"') ? path + 1 : path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\')
            name = p + 1;
    }
    char* end = CopyText(start, name);
    // A quoted path keeps its closing quote in the last component.
    for (char* p = start; p < end; ++p) {
        if (*p == '"') {
            end = p;
            break;
        }
    }
    return Finish(end, start);
}

char* StringBegin()
{
    return InstallerState.WorkspacePosition;
}

void StringHold()
{
    // The callee's temporaries then start past this one's terminating zero.
    ++InstallerState.WorkspacePosition;
}

void StringRelease(char* start)
{
    InstallerState.WorkspacePosition = start;
}
