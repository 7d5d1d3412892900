// Conversions between the program's UTF-16 text and the toolkit's strings, at the UI's edge.
#pragma once

#include <wx/string.h>

#include <string>
#include <string_view>

// A lone surrogate becomes U+FFFD; everything else is carried over exactly.
wxString ToWx(std::u16string_view text);
std::u16string FromWx(const wxString& text);
