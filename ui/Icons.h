// The program icon IDR_MAINFRAME: a note over a folder, 32 x 32 and 16 x 16, 16 colours.
#pragma once

#include <wx/icon.h>
#include <wx/iconbndl.h>

wxIcon LoadMainIcon(int size); // 32 or 16
wxIconBundle LoadMainIcons();
