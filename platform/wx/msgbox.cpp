#include "platform/wx/msgbox.h"
#include "platform/wx/wxtext.h"

#include <wx/msgdlg.h>

namespace {
MessageBoxHandler& TestHandler() {
    static MessageBoxHandler handler;
    return handler;
}

long ToWxStyle(UINT type) {
    long style = 0;
    switch (type & 0x0F) {
    case MB_OKCANCEL:
        style |= wxOK | wxCANCEL;
        break;
    case MB_YESNO:
        style |= wxYES_NO;
        break;
    default:
        style |= wxOK;
        break;
    }
    switch (type & 0xF0) {
    case MB_ICONERROR:
        style |= wxICON_ERROR;
        break;
    case MB_ICONQUESTION:
        style |= wxICON_QUESTION;
        break;
    case MB_ICONEXCLAMATION:
        style |= wxICON_EXCLAMATION;
        break;
    case MB_ICONINFORMATION:
        style |= wxICON_INFORMATION;
        break;
    default:
        break;
    }
    return style;
}

int FromWxResult(int result) {
    switch (result) {
    case wxID_CANCEL:
        return IDCANCEL;
    case wxID_YES:
        return IDYES;
    case wxID_NO:
        return IDNO;
    default:
        return IDOK;
    }
}
} // namespace

int MessageBox(wxWindow* owner, std::u16string_view text, std::u16string_view caption, UINT type) {
    if (TestHandler())
        return TestHandler()(owner, std::u16string(text), std::u16string(caption), type);
    wxMessageDialog box(owner, ToWx(text), ToWx(caption), ToWxStyle(type));
    return FromWxResult(box.ShowModal());
}

void SetMessageBoxForTesting(MessageBoxHandler handler) {
    TestHandler() = std::move(handler);
}
