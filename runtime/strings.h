// String values and temporaries.
//
// A string variable is a char* that owns a copy in the runtime heap, or is
// null; a null string reads as the empty string everywhere. Temporaries are
// built one after another in the string workspace at WorkspacePosition:
//   1. note WorkspacePosition as the temporary's start;
//   2. produce the text (a producing operation given that start, or a series
//      of StringAppend calls, each continuing the same text);
//   3. store it with StringAssign, or pass it on: StringHold() before the
//      call, StringRelease(start) after it.
#pragma once

#include <stdint.h>

// What a null string reads as, for calls that need a text; one copy for the
// whole installer.
extern const char EMPTY_TEXT[];

// The variable owns a new copy of the temporary at start; the workspace goes
// back to start.
void StringAssign(char** variable, char* start);

// Adds the text at WorkspacePosition, which ends on the new terminating zero.
void StringAppend(const char* text);

// Gives the variable (which holds nothing yet) its own copy of the text; a
// null text leaves it as it was.
void StringDuplicate(const char* text, char** variable);

// Frees a copy made by StringDuplicate; null is ignored.
void StringDiscard(char* copy);

uint32_t StringLength(const char* text);

// 1 when the two texts are equal byte for byte, else 0.
int StringEquals(const char* a, const char* b);

// Producers: each writes its result at start, leaves WorkspacePosition on the
// result's terminating zero and returns start.
char* StringSpaces(int32_t count, char* start);
char* StringRight(const char* text, int32_t count, char* start);
char* PathFilePart(const char* path, char* start);

// The current workspace position: where a new temporary starts.
char* StringBegin();

// Keeps the temporary that ends at WorkspacePosition alive while it is passed
// to a call that builds temporaries of its own.
void StringHold();

// Releases every temporary from start on.
void StringRelease(char* start);
