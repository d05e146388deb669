#include "runtime/registry.h"

#include "runtime/strings.h"

// Creates or opens the key, sets the value, and closes the key again.
static int RegistrySetValue(HKEY root, const char* subkey, const char* valueName, const char* text)
{
    HKEY key = nullptr;
    if (RegCreateKeyA(root, subkey, &key) != ERROR_SUCCESS)
        return REGISTRY_NOT_OPENED;
    const char* const data = text ? text : EMPTY_TEXT;
    const DWORD length = StringLength(data) + 1;
    const LONG set = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), length);
    RegCloseKey(key);
    return set == ERROR_SUCCESS ? REGISTRY_SET : REGISTRY_NOT_SET;
}

int RegistryWriteString(HKEY root, const char* subkey, const char* valueName, const char* text)
{
    char* subkeyCopy = nullptr;
    char* valueNameCopy = nullptr;
    char* textCopy = nullptr;
    StringDuplicate(subkey, &subkeyCopy);
    StringDuplicate(valueName, &valueNameCopy);
    StringDuplicate(text, &textCopy);

    int result = REGISTRY_NOT_OPENED;
    // A copy the heap refused would read as missing: the value would land in
    // the root key, or in the default value, instead of where it was meant.
    const bool copied = (!subkey || subkeyCopy) && (!valueName || valueNameCopy) && (!text || textCopy);
    if (copied)
        result = RegistrySetValue(root, subkeyCopy, valueNameCopy, textCopy);

    StringDiscard(valueNameCopy);
    StringDiscard(textCopy);
    StringDiscard(subkeyCopy);
    return result;
}

BOOL DirectoryCreate(const char* path)
{
    return CreateDirectoryA(path ? path : EMPTY_TEXT, nullptr);
}

BOOL FileDelete(const char* name)
{
    return DeleteFileA(name ? name : EMPTY_TEXT);
}
