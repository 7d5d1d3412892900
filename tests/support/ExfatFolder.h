// A fresh exFAT file system, as on a USB stick, mounted through its FUSE driver over a loop
// device for as long as the object lives: it has neither hard links nor RENAME_NOREPLACE, and
// refuses : * ? " < > | \ in names. Mounting needs root, /dev/fuse, a loop device and the
// exfatprogs and exfat-fuse packages (scripts/setup.sh); where something is missing, nothing
// is mounted and SkipReason() says what.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/vfs.h>
#include <unistd.h>

class ExfatFolder {
public:
    // 4 MiB is about the smallest image that mkfs.exfat formats; about 2 MiB of it are free.
    explicit ExfatFolder(std::uintmax_t bytes = 4u << 20) {
        namespace fs = std::filesystem;
        if (::geteuid() != 0) {
            m_skipReason = "mounting an exFAT image needs root";
            return;
        }
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            m_skipReason = "no usable /dev/fuse";
            return;
        }
        if (!Run("command -v mkfs.exfat && command -v mount.exfat-fuse && command -v losetup")) {
            m_skipReason = "mkfs.exfat, mount.exfat-fuse or losetup is missing "
                           "(scripts/setup.sh installs them)";
            return;
        }
        m_root = fs::temp_directory_path() /
                 ("pm-exfat-" + std::to_string(::getpid()) + "-" + std::to_string(s_nImage++));
        fs::create_directories(m_root / "stick");
        const fs::path image = m_root / "image";
        std::ofstream(image, std::ios::binary).close();
        fs::resize_file(image, bytes);
        if (!Run("mkfs.exfat " + Quoted(image))) {
            m_skipReason = "mkfs.exfat failed";
            return;
        }
        m_loop = Output("losetup --find --show " + Quoted(image));
        if (m_loop.empty()) {
            m_skipReason = "no loop device could be attached";
            return;
        }
        if (!Run("mount.exfat-fuse " + Quoted(m_loop) + " " + Quoted(Folder())) ||
            !IsFuseMount(Folder())) {
            m_skipReason = "mount.exfat-fuse could not mount the image";
            return;
        }
        m_bMounted = true;
    }

    ~ExfatFolder() {
        if (m_bMounted && !Run("umount " + Quoted(Folder())))
            Run("umount --lazy " + Quoted(Folder()));
        if (!m_loop.empty())
            Run("losetup --detach " + Quoted(m_loop)); // detached once the driver lets go
        std::error_code ignored;
        if (!m_root.empty() && !IsFuseMount(Folder()))
            std::filesystem::remove_all(m_root, ignored);
    }

    ExfatFolder(const ExfatFolder&) = delete;
    ExfatFolder& operator=(const ExfatFolder&) = delete;

    const std::string& SkipReason() const { return m_skipReason; }
    std::filesystem::path Folder() const { return m_root / "stick"; }
    // Unmounts the stick and mounts it again, as unplugging it and plugging it back in does.
    bool Remount() {
        return m_bMounted && Run("umount " + Quoted(Folder())) &&
               Run("mount.exfat-fuse " + Quoted(m_loop) + " " + Quoted(Folder())) &&
               IsFuseMount(Folder());
    }

private:
    static std::string Quoted(const std::filesystem::path& path) {
        return "'" + path.string() + "'"; // the paths here hold no quote
    }
    static bool Run(const std::string& command) {
        return std::system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0;
    }
    // The first line a command prints, empty when it fails.
    static std::string Output(const std::string& command) {
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>/dev/null").c_str(), "r"),
                                                   ::pclose);
        char line[256] = {};
        if (!pipe || !std::fgets(line, sizeof line, pipe.get()))
            return {};
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }
    static bool IsFuseMount(const std::filesystem::path& folder) {
        constexpr long kFuseMagic = 0x65735546;
        struct statfs info {};
        return ::statfs(folder.c_str(), &info) == 0 && info.f_type == kFuseMagic;
    }

    static inline int s_nImage = 0;
    std::filesystem::path m_root;
    std::string m_loop;
    std::string m_skipReason;
    bool m_bMounted = false;
};
