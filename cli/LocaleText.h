// Text between the command line and the terminal, in the locale's encoding, as every
// command-line program reads and writes it: the locale comes from the environment (LC_ALL,
// LC_CTYPE, LANG) and the C library converts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Takes the locale of the environment; numbers stay in the C form.
void UseLocaleOfEnvironment();

// An argument as text, decoded in the locale's encoding. Bytes the locale does not take are
// read as UTF-8 where they form it, and otherwise kept byte for byte (see FromNativeName).
std::u16string ArgumentText(std::string_view bytes);
// An address argument: the same, with a byte kept as it came written as %XX, so the server
// gets that byte.
std::u16string UrlArgument(std::string_view bytes);
// A folder argument: a file name, whose bytes are used as they came whatever the locale.
std::u16string FolderArgumentText(std::string_view bytes);

// Text for the terminal in the locale's encoding: control characters and characters the
// encoding cannot show become '?'; a byte kept from an argument is written back as it came.
std::string OutputText(std::u16string_view text);
// The same, cut to at most columns columns of the terminal (wcwidth: a wide character takes
// two, a combining one none).
std::string OutputText(std::u16string_view text, size_t columns);
// A name of a file as the file system holds it, so a script can open it; control characters
// become '?'.
std::string OutputFileName(std::u16string_view name);
