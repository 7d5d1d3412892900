// Placing controls by dialog units, which follow the dialog's font.
#pragma once

#include "res/layouts.h"

#include <wx/gdicmn.h>

class wxWindow;

wxPoint DialogPoint(wxWindow* dialog, const DialogRect& rect);
wxSize DialogSize(wxWindow* dialog, const DialogRect& rect);
// Gives the dialog the client size of its template.
void SetDialogClientSize(wxWindow* dialog, const DialogRect& rect);
