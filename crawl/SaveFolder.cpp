#include "crawl/SaveFolder.h"

#include "platform/files/files.h"
#include "platform/files/home_folder.h"
#include "platform/text/text.h"
#include "platform/text/text_error.h"

#include <cerrno>

namespace {

// Cut to the path buffers' 259 units, without one trailing '/'.
std::u16string Fitted(std::u16string_view text) {
    WCHAR szFolder[MAX_PATH];
    StrCpyN(szFolder, std::u16string(text).c_str(), MAX_PATH);
    PathRemoveBackslash(szFolder);
    return szFolder;
}

} // namespace

std::u16string TrimmedField(std::u16string_view fieldText) {
    std::u16string text(fieldText);
    TrimWhiteSpace(text.data());
    text.resize(static_cast<size_t>(lstrlen(text.c_str())));
    return text;
}

std::u16string SaveFolderText(std::u16string_view fieldText) {
    return Fitted(TrimmedField(fieldText));
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
    std::u16string folder = FromUtf8(HomeFolder());
    if (!rest.empty()) {
        if (folder.back() != u'/')
            folder += u'/';
        folder += rest;
    }
    return Fitted(folder);
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
