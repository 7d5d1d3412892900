// Message boxes: the one way the program asks the user something. Tests replace the box so
// that nobody has to press a button.
#pragma once

#include "platform/com/com.h"

#include <functional>
#include <string>
#include <string_view>

class wxWindow;

constexpr UINT MB_OK = 0x00;
constexpr UINT MB_OKCANCEL = 0x01;
constexpr UINT MB_YESNO = 0x04;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows a modal message box; owner may be null. Returns the button pressed (IDOK, ...).
int MessageBox(wxWindow* owner, std::u16string_view text, std::u16string_view caption, UINT type);

using MessageBoxHandler = std::function<int(wxWindow* owner, const std::u16string& text,
                                            const std::u16string& caption, UINT type)>;
// Replaces the box; an empty function restores the real one.
void SetMessageBoxForTesting(MessageBoxHandler handler);
