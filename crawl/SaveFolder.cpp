#include "crawl/SaveFolder.h"

#include "platform/files/files.h"
#include "platform/files/home_folder.h"
#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <cerrno>

namespace {

// The longest folder whose whole path the program's path buffers hold (260 units with the
// terminator). A longer one is refused: cut short, it would name another folder.
constexpr size_t kMaxFolderUnits = MAX_PATH - 1;

// Without one trailing '/'; the root keeps it.
std::u16string WithoutTrailingSlash(std::u16string folder) {
    if (folder.size() > 1 && folder.back() == u'/')
        folder.pop_back();
    return folder;
}

} // namespace

std::u16string TrimmedField(std::u16string_view fieldText) {
    std::u16string text(fieldText);
    TrimWhiteSpace(text.data());
    text.resize(static_cast<size_t>(lstrlen(text.c_str())));
    return text;
}

std::u16string SaveFolderText(std::u16string_view fieldText) {
    return WithoutTrailingSlash(TrimmedField(fieldText));
}

std::u16string SaveFolderFromField(std::u16string_view fieldText) {
    const std::u16string text = SaveFolderText(fieldText);
    if (text.empty() || text.front() == u'/')
        return text;
    std::u16string_view rest = text;
    if (rest == u"~")
        rest = {};
    else if (rest.starts_with(u"~/"))
        rest.remove_prefix(2);
    std::u16string folder = FromNativeName(HomeFolder());
    if (!rest.empty()) {
        if (folder.back() != u'/')
            folder += u'/';
        folder += rest;
    }
    return WithoutTrailingSlash(folder);
}

CSaveFolder PrepareSaveFolder(std::u16string_view fieldText) {
    // The program's long-standing words first, then which folder and the system's reason.
    static constexpr std::u16string_view kCreateFailed = u"Couldn't create output directory. ";
    CSaveFolder result{SaveFolderText(fieldText), SaveFolderFromField(fieldText), {}};
    const std::u16string& folder = result.m_szFolder;
    auto refuse = [&](std::u16string_view what, int error) {
        result.m_szRefusal = std::u16string(what) + folder + u": " + SystemErrorText(error) + u".";
        return result;
    };

    if (folder.size() > kMaxFolderUnits) {
        result.m_szRefusal =
            std::u16string(kCreateFailed) + folder + u": the path is longer than the " +
            FromUtf8(std::to_string(kMaxFolderUnits)) + u" characters the program can use.";
        return result;
    }
    // A file (or anything else that is no folder) under that name cannot hold tones.
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (PathFileExists(folder.c_str())) {
        if (!GetFileAttributesEx(folder.c_str(), &attributes) || !attributes.bDirectory)
            return refuse(kCreateFailed, EEXIST);
    } else if (int error = SHCreateDirectory(nullptr, folder.c_str()); error != 0) {
        return refuse(kCreateFailed, error);
    }
    if (int error = ProbeFolderWritable(folder.c_str()); error != 0)
        return refuse(u"Couldn't write to the output directory ", error);

    RemoveLeftoverPartFiles(folder.c_str());
    return result;
}
