// What the desktop offers a program beside its windows: showing a folder in the file manager,
// and a notification through the desktop's notification service. Tests replace both, so that
// nothing opens and what would have been shown can be read.
#pragma once

#include <functional>
#include <string>

// Opens folder in the desktop's file manager; false when nothing could show it.
bool ShowFolder(const std::u16string& folder);
// Tells the user something through the notification service; false when none took it.
bool ShowNotification(const std::u16string& title, const std::u16string& text);

// Replace the real ones; an empty function restores them.
void SetShowFolderForTesting(std::function<bool(const std::u16string& folder)> handler);
void SetNotificationForTesting(
    std::function<bool(const std::u16string& title, const std::u16string& text)> handler);
