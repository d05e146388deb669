// Thin registry and file-system helpers. None of them changes the process's
// current directory: a relative name resolves against whatever it is, which
// in the installer is the executable's directory (the file slots and the pack
// reader leave it there).
#pragma once

#include <windows.h>

// Results of RegistryWriteString.
constexpr int REGISTRY_NOT_OPENED = 0; // the key was neither created nor opened
constexpr int REGISTRY_NOT_SET = 1;    // the key was opened, setting the value failed
constexpr int REGISTRY_SET = 2;        // the value holds the text

// Writes the text as a REG_SZ value (its bytes and one terminating zero) under
// root\subkey, creating every missing key on the way. A missing subkey
// addresses the root itself, a missing value name the key's default value, a
// missing text the empty string.
int RegistryWriteString(HKEY root, const char* subkey, const char* valueName, const char* text);

// Creates the last component of the path; nonzero on success, 0 also when it
// exists or its parent is missing.
BOOL DirectoryCreate(const char* path);

// Nonzero when the file was deleted.
BOOL FileDelete(const char* name);
