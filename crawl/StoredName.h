// Makes a name that came from a server fit to be a file in the chosen folder.
#pragma once

#include "platform/com.h"

// Keeps one plain path component: separators, NUL and other control characters become
// '_'; a name too long for the file system is shortened at a character boundary with its
// extension kept. Returns false when nothing storable remains (empty, "." or "..").
bool MakeStorableName(LPWSTR name);
