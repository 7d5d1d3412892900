// The target folder as the folder field names it. Start and every store read the field
// through this one function, so a tone always lands in the folder that Start made.
#pragma once

#include <string>

// The field's text as it is remembered: trimmed at both ends, cut to 259 units, without one
// trailing '/' (the root keeps it).
std::u16string SaveFolderText(std::u16string_view fieldText);

// The folder itself: the remembered text with "~" and "~/..." meaning the home folder, and a
// relative folder taken inside the home folder (never the directory the program started in).
std::u16string SaveFolderFromField(std::u16string_view fieldText);
