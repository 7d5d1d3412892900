// The folder browser. Tests replace it so that nobody has to pick a folder.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

class wxWindow;

// Lets the user choose a folder (new folders can be made in the browser). The folder's path,
// or nothing when the user cancelled.
std::optional<std::u16string> SHBrowseForFolder(wxWindow* owner, std::u16string_view title);

using BrowseForFolderHandler =
    std::function<std::optional<std::u16string>(wxWindow* owner, const std::u16string& title)>;
// Replaces the browser; an empty function restores the real one.
void SetBrowseForFolderForTesting(BrowseForFolderHandler handler);
