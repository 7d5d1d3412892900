#include "ui/DialogUnits.h"

#include <wx/window.h>

wxPoint DialogPoint(wxWindow* dialog, const DialogRect& rect) {
    return dialog->ConvertDialogToPixels(wxPoint(rect.x, rect.y));
}

// From the converted far corner, so that rectangles which touch in dialog units touch in
// pixels too instead of overlapping by a rounded pixel.
wxSize DialogSize(wxWindow* dialog, const DialogRect& rect) {
    const wxPoint farCorner =
        dialog->ConvertDialogToPixels(wxPoint(rect.x + rect.cx, rect.y + rect.cy));
    const wxPoint corner = DialogPoint(dialog, rect);
    return {farCorner.x - corner.x, farCorner.y - corner.y};
}

void SetDialogClientSize(wxWindow* dialog, const DialogRect& rect) {
    dialog->SetClientSize(DialogSize(dialog, rect));
}
