// The target folder as the folder field names it. Start and every store read the field
// through these functions, so a tone always lands in the folder that Start made, and every
// front end prepares the folder the same way.
#pragma once

#include <string>

// A field's text as Start takes it: without white space at either end.
std::u16string TrimmedField(std::u16string_view fieldText);

// The field's text as it is remembered: trimmed at both ends, without one trailing '/' (the
// root keeps it).
std::u16string SaveFolderText(std::u16string_view fieldText);

// The folder itself: the remembered text with "~" and "~/..." meaning the home folder, and a
// relative folder taken inside the home folder (never the directory the program started in).
std::u16string SaveFolderFromField(std::u16string_view fieldText);

// The folder a crawl is about to store into, or why it cannot.
struct CSaveFolder {
    std::u16string m_szText;    // as remembered (SaveFolderText)
    std::u16string m_szFolder;  // the folder itself (SaveFolderFromField)
    std::u16string m_szRefusal; // empty when the folder takes tones; else why not, in words
};

// What Start does with the folder field before a crawl: creates the folder with its parents
// when nothing is there, refuses what cannot take files with the system's reason (a crawl
// into it would fetch everything and store nothing) and a folder too long for the program to
// use whole (never a shorter one in its place), and removes what a run killed while storing
// left behind.
CSaveFolder PrepareSaveFolder(std::u16string_view fieldText);
