#include "platform/wx/desktop.h"
#include "platform/wx/wxtext.h"

#include <wx/notifmsg.h>
#include <wx/utils.h>

namespace {
std::function<bool(const std::u16string&)>& FolderHandler() {
    static std::function<bool(const std::u16string&)> handler;
    return handler;
}
std::function<bool(const std::u16string&, const std::u16string&)>& NotificationHandler() {
    static std::function<bool(const std::u16string&, const std::u16string&)> handler;
    return handler;
}
} // namespace

bool ShowFolder(const std::u16string& folder) {
    if (FolderHandler())
        return FolderHandler()(folder);
    // The desktop's opener hands a folder to its file manager.
    return wxLaunchDefaultApplication(ToWx(folder));
}

bool ShowNotification(const std::u16string& title, const std::u16string& text) {
    if (NotificationHandler())
        return NotificationHandler()(title, text);
    wxNotificationMessage notification(ToWx(title), ToWx(text));
    return notification.Show();
}

void SetShowFolderForTesting(std::function<bool(const std::u16string& folder)> handler) {
    FolderHandler() = std::move(handler);
}

void SetNotificationForTesting(
    std::function<bool(const std::u16string& title, const std::u16string& text)> handler) {
    NotificationHandler() = std::move(handler);
}
