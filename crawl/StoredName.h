// Makes a name that came from a server fit to be a file in the chosen folder.
#pragma once

#include "platform/com/com.h"

#include <string>

// Keeps one plain path component: separators, NUL and other control characters become
// '_', and so does a '.' at its start (a stored tone is never hidden, nor taken for one of the
// program's temporary files, whose names start with one). For a folder whose file system
// refuses them, the reserved characters (kReservedNameCharacters) become '_' too, and so do
// dots and blanks at the end, which such file systems drop and other systems cannot open. A
// name too long for the file system is shortened at a character boundary with its extension
// kept. Returns false when nothing storable remains (empty, "." or "..").
bool MakeStorableName(LPWSTR name, bool folderRefusesReserved);

// Numbered variant n of a storable name, "base[n]extension", within the file system's name
// limit and at most maxUnits UTF-16 units: only the base is shortened, never the number or
// the extension. Empty when no base would remain.
std::u16string NumberedName(std::u16string_view name, int n, size_t maxUnits);
