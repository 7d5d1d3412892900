// The program run as a child process without a display, and a fixture that gives each test
// a home of its own with a test server on 127.0.0.1.
#pragma once

#include "tests/support/TestServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

// A child that runs longer than this is stuck: it is killed and the test fails.
inline constexpr int kStuckMs = 120000;

struct Finished {
    int status = -1; // the exit status, or -1 when it did not exit
    std::string out;
    std::string err;
};

// The program as a child process without a display, its output read through pipes, its
// harvest record under stateHome, its temporary folder in tmpDir when one is given.
class CrawlerProcess {
public:
    CrawlerProcess(const std::vector<std::string>& args, const fs::path& stateHome,
                   const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> env{"XDG_STATE_HOME=" + stateHome.string()};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY=") &&
                !entry.starts_with("XDG_STATE_HOME=") && !entry.starts_with("TMPDIR=") &&
                !entry.starts_with("ASAN_OPTIONS="))
                env.push_back(entry);
        }
        // A sanitizer build lets a preloaded library come before its runtime.
        env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:" +
                      std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : ""));
        if (const char* tmp = std::getenv("TMPDIR");
            tmp && std::none_of(env.begin(), env.end(),
                                [](const std::string& e) { return e.starts_with("TMPDIR="); }))
            env.push_back(std::string("TMPDIR=") + tmp);
        std::vector<char*> argv{const_cast<char*>(PM_CRAWLER_PROGRAM)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        int out[2], err[2];
        if (::pipe(out) != 0 || ::pipe(err) != 0)
            throw std::runtime_error("pipe");
        m_pid = ::fork();
        if (m_pid == 0) { // only what is safe between fork and exec
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~CrawlerProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }

    void Signal(int signal) const { ::kill(m_pid, signal); }

    // The first line of the output, read as a reader such as head reads it; then the output is
    // closed, as head closes it when it has read enough.
    std::string FirstLineThenClose() {
        std::string out;
        pollfd fd{m_out, POLLIN, 0};
        while (out.find('\n') == std::string::npos && ::poll(&fd, 1, kStuckMs) == 1 &&
               Drain(m_out, out)) {
        }
        ::close(m_out);
        m_out = -1;
        return out.substr(0, out.find('\n'));
    }

    // Reads both pipes to their end and waits for the exit.
    Finished Finish() {
        Finished result;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStuckMs);
        bool outOpen = m_out >= 0, errOpen = true;
        while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
            pollfd fds[2] = {{outOpen ? m_out : -1, POLLIN, 0}, {errOpen ? m_err : -1, POLLIN, 0}};
            if (::poll(fds, 2, 1000) <= 0)
                continue;
            if (fds[0].revents)
                outOpen = Drain(m_out, result.out);
            if (fds[1].revents)
                errOpen = Drain(m_err, result.err);
        }
        if (outOpen || errOpen)
            ::kill(m_pid, SIGKILL);
        int wstatus = 0;
        ::waitpid(m_pid, &wstatus, 0);
        m_pid = -1;
        if (WIFEXITED(wstatus))
            result.status = WEXITSTATUS(wstatus);
        result.err = WithoutSanitizerNotes(result.err);
        return result;
    }

private:
    // A sanitizer build notes on stderr that it cannot follow the crawl's own stack; that
    // line is the build's, not the program's.
    static std::string WithoutSanitizerNotes(const std::string& err) {
        std::string kept;
        size_t start = 0;
        while (start < err.size()) {
            size_t end = err.find('\n', start);
            end = end == std::string::npos ? err.size() : end + 1;
            const std::string_view line(err.data() + start, end - start);
            if (!(line.starts_with("==") && line.find("WARNING: ASan") != std::string_view::npos))
                kept += line;
            start = end;
        }
        return kept;
    }

    // False once the pipe has ended.
    static bool Drain(int fd, std::string& into) {
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            into.append(buffer, static_cast<size_t>(n));
        return n > 0;
    }

    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

// The files of a folder and their bytes, hidden ones too.
inline std::map<std::string, std::string> FilesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

inline std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos)
        return {};
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_home = fs::temp_directory_path() /
                 ("pm-cli-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_nFolder++));
        fs::remove_all(m_home);
        fs::create_directories(m_home);
        m_folder = m_home / "Tones";
    }
    void TearDown() override {
        m_release = true;
        m_server.Stop();
        fs::remove_all(m_home);
    }

    Finished Crawl(const std::vector<std::string>& args) const {
        return CrawlerProcess(args, m_home / "state").Finish();
    }
    std::map<std::string, std::string> Stored() const { return FilesIn(m_folder); }

    static inline int s_nFolder = 0;
    TestServer m_server;
    fs::path m_home;
    fs::path m_folder;
    std::atomic<bool> m_release{false};
};
