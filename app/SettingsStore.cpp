#include "app/SettingsStore.h"
#include "platform/files/home_folder.h"
#include "platform/wx/wxtext.h"

#include <wx/fileconf.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
std::string Utf8(std::u16string_view text) {
    return ToWx(text).utf8_string();
}

fs::path ConfigHome() {
    // XDG: a relative value is to be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return fs::path(xdg);
    return fs::path(HomeFolder()) / ".config";
}

wxString EntryPath(std::u16string_view section, std::u16string_view entry) {
    return wxS("/") + ToWx(section) + wxS("/") + ToWx(entry);
}

// The file's values. Environment variables in values are text like any other.
std::unique_ptr<wxFileConfig> Load(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return nullptr;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        return nullptr;
    const std::string text = bytes.str();
    wxLogNull quiet; // a damaged file reads as empty rather than popping up a log window
    wxMemoryInputStream stream(text.data(), text.size());
    auto config = std::make_unique<wxFileConfig>(stream, wxConvUTF8);
    config->SetExpandEnvVars(false);
    return config;
}

// Writes every byte to a file beside the target, flushes it to the disk and renames it over
// the target. On failure the target keeps its old content and no temporary file remains.
bool ReplaceFile(const fs::path& file, const std::string& bytes) {
    std::string tempName =
        (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(tempName.data());
    if (fd < 0)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += static_cast<size_t>(n);
    }
    ok = ok && fchmod(fd, 0600) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(tempName.c_str(), file.c_str()) == 0;
    if (!ok) {
        unlink(tempName.c_str());
        return false;
    }
    // Make the rename itself durable; failing here does not undo the write.
    if (int dir = open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY); dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
} // namespace

void CSettingsStore::SetLocation(std::u16string_view registryKey, std::u16string_view profileName) {
    m_szRegistryKey = registryKey;
    m_szProfileName = profileName;
}

fs::path CSettingsStore::FilePath() const {
    if (m_szRegistryKey.empty() || m_szProfileName.empty())
        return {};
    return ConfigHome() / Utf8(m_szRegistryKey) / (Utf8(m_szProfileName) + ".conf");
}

bool CSettingsStore::EnsureLocation() const {
    const fs::path file = FilePath();
    if (file.empty())
        return false;
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    if (error)
        return false;
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        return close(fd) == 0;
    return errno == EEXIST && fs::is_regular_file(file, error);
}

std::u16string CSettingsStore::GetProfileString(std::u16string_view section,
                                                std::u16string_view entry,
                                                std::u16string_view defaultValue) const {
    if (!EnsureLocation())
        return std::u16string(defaultValue);
    std::unique_ptr<wxFileConfig> config = Load(FilePath());
    wxString value;
    if (!config || !config->Read(EntryPath(section, entry), &value))
        return std::u16string(defaultValue);
    return FromWx(value);
}

bool CSettingsStore::WriteProfileString(std::u16string_view section, std::u16string_view entry,
                                        std::u16string_view value) const {
    if (!EnsureLocation())
        return false;
    std::unique_ptr<wxFileConfig> config = Load(FilePath());
    if (!config || !config->Write(EntryPath(section, entry), ToWx(value)))
        return false;
    wxMemoryOutputStream out;
    if (!config->Save(out, wxConvUTF8))
        return false;
    const size_t size = out.GetLength();
    std::string bytes(size, '\0');
    out.CopyTo(bytes.data(), size);
    return ReplaceFile(FilePath(), bytes);
}
