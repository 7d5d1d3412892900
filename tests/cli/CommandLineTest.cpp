// The real program run as a command, as a script or a timer runs it: no display, the demo
// library and test servers on 127.0.0.1, and the exit status a script reads.
#include "cli/CliOptions.h"
#include "cli/JsonEvents.h"
#include "cli/LocaleText.h"
#include "platform/text/text.h"
#include "tests/support/TestServer.h"
#include "tools/DemoServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <clocale>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A child that runs longer than this is stuck: it is killed and the test fails.
constexpr int kStuckMs = 120000;

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
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (auto& entry : fs::directory_iterator(folder)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename().string()] =
            std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
}

// What the fault shim saw, in order: operation, path, and the target of a link or rename.
struct ShimOperation {
    std::string op, path, to;
};
std::vector<ShimOperation> ReadShimLog(const fs::path& log) {
    std::vector<ShimOperation> operations;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        operations.push_back(
            {line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1)});
    }
    return operations;
}

// Why the order of operations could lose a tone in a power cut: a tone's name that appears
// before its bytes were synced, or a record write after names that the folder's sync has not
// yet made last. Empty when there is none.
std::string OrderFault(const std::vector<ShimOperation>& operations, const fs::path& folder) {
    std::map<std::string, size_t> lastWrite, lastSync;
    size_t lastWholeSync = 0, lastNamed = 0, lastFolderSync = 0;
    for (size_t i = 1; i <= operations.size(); ++i) {
        const ShimOperation& o = operations[i - 1];
        if (o.op == "write" && o.path.find("harvest.sqlite") != std::string::npos) {
            if (lastNamed > lastFolderSync)
                return "the record was written before the folder was synced: line " +
                       std::to_string(i);
        } else if (o.op == "write") {
            lastWrite[o.path] = i;
        } else if (o.op == "fsync") {
            lastSync[o.path] = i;
            if (o.path == folder.string())
                lastFolderSync = i;
        } else if (o.op == "syncfs") {
            lastWholeSync = lastFolderSync = i;
        } else if (o.op == "link" || o.op == "rename") {
            const bool toneName = fs::path(o.to).parent_path() == folder &&
                                  !fs::path(o.to).filename().string().starts_with(".");
            if (toneName && std::max(lastSync[o.path], lastWholeSync) < lastWrite[o.path])
                return "a name appeared before its bytes were synced: " + o.to;
            if (toneName)
                lastNamed = i;
            lastWrite[o.to] = lastWrite[o.path]; // the bytes go with the name
            lastSync[o.to] = lastSync[o.path];
        }
    }
    return lastNamed != 0 ? std::string() : "no tone was named";
}

std::string LastLine(const std::string& text) {
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
    std::map<std::string, std::string> Stored() const {
        std::map<std::string, std::string> files;
        for (auto& entry : fs::directory_iterator(m_folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    }

    static inline int s_nFolder = 0;
    TestServer m_server;
    fs::path m_home;
    fs::path m_folder;
    std::atomic<bool> m_release{false};
};

TEST_F(CommandLineTest, CrawlsTheDemoLibraryWithoutADisplay) {
    // A folder named in Latin-1, which the locale's encoding (UTF-8 or ASCII) does not take:
    // its bytes are used as they came.
    m_folder = m_home / "T\xF6ne";
    const DemoLibrary library = DemoLibrary::Make(4, 6);
    DemoStats stats;
    ServeDemoLibrary(m_server.server(), library, &stats);
    m_server.Start();

    const Finished run = Crawl({"--url", m_server.Url(library.PagePath(1)), "--folder",
                                m_folder.string(), "--connections", "2"});

    EXPECT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> expected;
    for (const DemoTone& tone : library.tones)
        expected[tone.storedName] = tone.bytes;
    EXPECT_TRUE(Stored() == expected) << "every distinct tone once, with its bytes";
    // Not a terminal: one line per stored tone naming its file, numbered variants included,
    // then the main window's outcome line.
    std::map<std::string, std::string> told;
    for (size_t at = run.out.find("stored: "); at != std::string::npos;
         at = run.out.find("stored: ", at + 1)) {
        const size_t name = at + std::strlen("stored: ");
        const std::string file = run.out.substr(name, run.out.find('\n', name) - name);
        told[file] = expected.count(file) ? expected[file] : "";
    }
    EXPECT_TRUE(told == expected) << run.out;
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](auto& file) {
        return file.first.find("[1]") != std::string::npos;
    })) << "the library holds a numbered variant";
    EXPECT_EQ(run.out.find('\r'), std::string::npos) << "nothing is redrawn";
    EXPECT_EQ(LastLine(run.out).rfind(std::to_string(expected.size()) + " new tones stored", 0), 0u)
        << run.out;
    EXPECT_EQ(run.err, "");

    // The harvest record knows that folder by its bytes too: a second crawl only asks.
    const long toneRequests = stats.toneRequests;
    Crawl({"--url", m_server.Url(library.PagePath(1)), "--folder", m_folder.string()});
    EXPECT_EQ(stats.notModified, stats.toneRequests - toneRequests);
}

TEST_F(CommandLineTest, AFailedToneFinishesWithStatus1) {
    m_server.server().Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/good.l6t\">1</a><a href=\"/l6file/gone.l6t\">2</a>",
                        "text/html");
    });
    m_server.server().Get("/l6file/good.l6t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("good", "application/octet-stream");
    });
    m_server.Start();

    const Finished run =
        Crawl({"--url", m_server.Url("/library.html"), "--folder", m_folder.string()});

    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.out.find("failed tone: " + m_server.Url("/l6file/gone.l6t") + ": HTTP 404 Not Found\n"),
        std::string::npos)
        << run.out;
    EXPECT_EQ(LastLine(run.out).rfind("1 new tone stored, 1 failed, in ", 0), 0u) << run.out;
}

TEST(JsonEvents, EachKindCarriesItsFieldsAndTextIsEscaped) {
    auto json = [](CCrawlEvent event) { return JsonEvent(event); };
    EXPECT_EQ(json({CCrawlEvent::kToneStored, u"http://h/l6file/a", u"A \"1\".l6t", {}, 12}),
              R"({"event":"stored","url":"http://h/l6file/a","name":"A \"1\".l6t","bytes":12})");
    EXPECT_EQ(json({CCrawlEvent::kToneAlreadyThere, u"u", u"A.l6t"}),
              R"({"event":"already_there","url":"u","name":"A.l6t"})");
    EXPECT_EQ(
        json({CCrawlEvent::kToneFailed, u"u", u"Caf\u00e9.l6t", u"line\nbreak\\"}),
        R"({"event":"tone_failed","url":"u","name":"Café.l6t","reason":"line\u000abreak\\"})");
    EXPECT_EQ(json({CCrawlEvent::kPageFailed, u"p", {}, u"HTTP 404 Not Found"}),
              R"({"event":"page_failed","url":"p","reason":"HTTP 404 Not Found"})");
    EXPECT_EQ(json({CCrawlEvent::kPageCut, u"p", {}, u"too long"}),
              R"({"event":"page_cut","url":"p","reason":"too long"})");
    EXPECT_EQ(json({CCrawlEvent::kServerWait, u"u", {}, u"busy", 0, 1500}),
              R"({"event":"server_wait","url":"u","reason":"busy","ms_left":1500})");
    EXPECT_EQ(json({.m_kind = CCrawlEvent::kPageWalked,
                    .m_szUrl = u"p",
                    .m_nPagesWalked = 2,
                    .m_nPagesKnown = 40}),
              R"({"event":"page","url":"p","walked":2,"known":40})");
    CCrawlOutcome outcome;
    outcome.m_nNewTones = 3;
    EXPECT_EQ(JsonOutcome(outcome, false, 7, 0),
              R"({"event":"outcome","new":3,"already_there":0,"failed_tones":0,"failed_pages":0,)"
              R"("cut_pages":0,"pages_walked":0,"pages_known":0,"seconds":7,"cancelled":false,)"
              R"("stopped":"","line":"3 new tones stored, in 0:00:07","status":0})");
}

TEST_F(CommandLineTest, RetryFailedFetchesOnlyWhatTheLastCrawlIntoTheFolderCouldNot) {
    std::atomic<bool> broken{true};
    std::mutex mutex;
    std::vector<std::string> requests;
    m_server.server().Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/good.l6t\">1</a><a href=\"/l6file/flaky.l6t\">2</a>",
                        "text/html");
    });
    m_server.server().Get(R"(/l6file/(.*))", [&](const httplib::Request& req, auto& res) {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(req.matches[1]);
        if (broken && req.matches[1] == "flaky.l6t")
            res.status = 500;
        else
            res.set_content(std::string(req.matches[1]), "application/octet-stream");
    });
    m_server.Start();

    Finished run =
        Crawl({"--url", m_server.Url("/library.html"), "--folder", m_folder.string(), "--json"});
    EXPECT_EQ(run.status, 1) << run.err;
    // One object a line; the stored names are the folder's.
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = run.out.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(run.out.substr(at, end - at));
    ASSERT_FALSE(lines.empty()) << run.out;
    for (const std::string& line : lines)
        EXPECT_TRUE(line.starts_with("{\"event\":\"") && line.ends_with("}")) << line;
    EXPECT_NE(run.out.find(R"("event":"stored","url":")" + m_server.Url("/l6file/good.l6t") +
                           R"(","name":"good.l6t","bytes":8})"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(R"("event":"tone_failed")"), std::string::npos) << run.out;
    EXPECT_TRUE(lines.back().starts_with(R"({"event":"outcome","new":1,)")) << lines.back();
    EXPECT_TRUE(lines.back().ends_with(R"("status":1})")) << lines.back();

    broken = false;
    requests.clear();
    run = Crawl({"--retry-failed", "--folder", m_folder.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(requests, std::vector<std::string>{"flaky.l6t"});
    EXPECT_TRUE((Stored() == std::map<std::string, std::string>{{"good.l6t", "good.l6t"},
                                                                {"flaky.l6t", "flaky.l6t"}}));
    EXPECT_EQ(LastLine(run.out).rfind("1 new tone stored, in ", 0), 0u) << run.out;

    // A folder no crawl went into has nothing to retry, and says so.
    run = Crawl({"--retry-failed", "--folder", (m_home / "Other").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("nothing to retry"), std::string::npos) << run.err;
}

TEST_F(CommandLineTest, WhatCannotStartEndsWithStatus2AndTheReason) {
    m_server.Start();
    const std::string dead = m_server.Url("/library.html");
    m_server.Stop(); // nothing listens there any more

    Finished run = Crawl({"--url", dead, "--folder", m_folder.string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "pmcrawler: The start page could not be fetched: connection refused\n");

    std::ofstream(m_home / "a-file") << "in the way";
    run = Crawl({"--url", dead, "--folder", (m_home / "a-file").string()});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "pmcrawler: Couldn't create output directory. " +
                           (m_home / "a-file").string() + ": File exists.\n");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--url", dead, "--folder"},
          std::vector<std::string>{"--url", dead, "--folder", "x", "--bogus"},
          std::vector<std::string>{"--url", dead, "--folder", "x", "--connections", "17"},
          std::vector<std::string>{"--url", dead, "--folder", "x", "-f", "y"},
          std::vector<std::string>{}}) { // a bare start with no display for the window
        run = Crawl(args);
        EXPECT_EQ(run.status, 2) << run.err;
        EXPECT_EQ(run.err.rfind("pmcrawler: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find("\nUsage: pmcrawler --url URL --folder DIR"), std::string::npos)
            << run.err;
    }

    // A folder too long to use whole is refused, never replaced by a shorter one.
    std::string longFolder = m_home.string();
    while (longFolder.size() < 300)
        longFolder += "/abcdefghi";
    run = Crawl({"--url", dead, "--folder", longFolder});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "pmcrawler: Couldn't create output directory. " + longFolder +
                           ": the path is longer than the 259 characters the program can use.\n");
    EXPECT_FALSE(fs::exists(m_home / "abcdefghi"));
}

TEST(CliOptionsTest, FollowTheConventionsAndRefuseAnOptionGivenTwice) {
    using Args = std::vector<std::string>;
    for (const Args& args : {Args{"-u", "http://a/", "-f", "T", "-c4"},
                             Args{"--url=http://a/", "--folder", "T", "--connections=4"},
                             Args{"-qc", "4", "-uhttp://a/", "-fT"}}) {
        const CCliParse parse = ParseCliOptions(args);
        EXPECT_EQ(parse.m_szError, "") << args[0];
        EXPECT_EQ(parse.m_options.m_nConnections, 4) << args[0];
        EXPECT_EQ(parse.m_options.m_szFolder, u"T") << args[0];
    }
    // "--" ends the options: what follows is an argument, and none is taken.
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "--", "-f", "T"}).m_szError,
              "unexpected argument '-f'");
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "-f", "T", "--folder=U"}).m_szError,
              "--folder is given more than once");
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "--quiet=yes"}).m_szError,
              "--quiet takes no value");
    EXPECT_EQ(ParseCliOptions({"-u", "http://a/", "-f"}).m_szError, "--folder needs a value (DIR)");
}

TEST(LocaleTextTest, ArgumentsAndOutputAreInTheLocalesEncodingAndColumns) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    // A byte the encoding does not take goes back out as it came; a character it does, and
    // a control character, do not pass through as they are.
    EXPECT_EQ(ToNativeName(FolderArgumentText("T\xF6ne")), "T\xF6ne");
    EXPECT_EQ(UrlArgument("http://a/T\xF6ne"), u"http://a/T%F6ne");
    EXPECT_EQ(OutputText(ArgumentText("Caf\xC3\xA9\x1B[2J")), "Caf\xC3\xA9?[2J");
    // A wide character takes two columns, and none is cut in half.
    EXPECT_EQ(OutputText(u"\u3042\u3044\u3046", 5), "\u3042\u3044");
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(OutputText(u"Caf\u00E9"), "Caf?");
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(CommandLineTest, InterruptMidTransferEndsWithStatus130AndNoPartialFile) {
    std::mutex mutex;
    std::condition_variable seen;
    bool bHeld = false;
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/first.l6t\">1</a><a href=\"/l6file/held.l6t\">2</a>"
                        "<a href=\"/l6file/never.l6t\">3</a>",
                        "text/html");
    });
    server.Get("/l6file/first.l6t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("first", "application/octet-stream");
    });
    server.Get("/l6file/held.l6t", [&](const httplib::Request&, httplib::Response& res) {
        // Half the body, then nothing until the test ends.
        res.set_content_provider(100000, "application/octet-stream",
                                 [&](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset == 0) {
                                         const std::string half(50000, 'h');
                                         sink.write(half.data(), half.size());
                                         std::lock_guard<std::mutex> lock(mutex);
                                         bHeld = true;
                                         seen.notify_all();
                                         return true;
                                     }
                                     while (!m_release)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     return false;
                                 });
    });
    m_server.Start();

    // One transfer at a time, so that the first tone is stored before the held one starts.
    CrawlerProcess crawler({"--url", m_server.Url("/library.html"), "--folder", m_folder.string(),
                            "--connections", "1"},
                           m_home / "state");
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(
            seen.wait_for(lock, std::chrono::milliseconds(kStuckMs), [&] { return bHeld; }));
    }
    crawler.Signal(SIGINT);
    const Finished run = crawler.Finish();

    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE((Stored() == std::map<std::string, std::string>{{"first.l6t", "first"}}))
        << "no partial file, under the tone's name or any other";
    EXPECT_EQ(LastLine(run.out).rfind("Cancelled: 1 new tone stored, in ", 0), 0u) << run.out;
}

TEST_F(CommandLineTest, AClosedOutputEndsTheCrawlAsCancelDoesWithStatus141) {
    auto& server = m_server.server();
    server.Get("/library.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<a href=\"/l6file/first.l6t\">1</a><a href=\"/l6file/held.l6t\">2</a>",
                        "text/html");
    });
    server.Get("/l6file/first.l6t", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("first", "application/octet-stream");
    });
    server.Get("/l6file/held.l6t", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100000, "application/octet-stream",
                                 [this](size_t, size_t, httplib::DataSink& sink) {
                                     sink.write("h", 1);
                                     while (!m_release)
                                         std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                     return false;
                                 });
    });
    m_server.Start();
    const fs::path tmp = m_home / "tmp";
    fs::create_directories(tmp);

    // As "pmcrawler ... | head -1" runs it: the reader goes after the first line, while the
    // crawl waits for a tone with nothing more to print.
    CrawlerProcess crawler({"--url", m_server.Url("/library.html"), "--folder", m_folder.string(),
                            "--connections", "1"},
                           m_home / "state", {"TMPDIR=" + tmp.string()});
    EXPECT_EQ(crawler.FirstLineThenClose(), "stored: first.l6t");
    const Finished run = crawler.Finish();

    EXPECT_EQ(run.status, 141) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE((Stored() == std::map<std::string, std::string>{{"first.l6t", "first"}}))
        << "no partial file";
    EXPECT_TRUE(fs::is_empty(tmp)) << "the temporary folder is removed";
}

// Killed at each write, sync, link or rename into the folder in turn and crawled again, the
// folder ends as one crawl alone leaves it: every tone once, whole, under its own name, and
// nothing else; on an ordinary folder and on one that refuses links and RENAME_NOREPLACE (as
// exFAT through FUSE and many network shares do). An unbroken crawl names no tone before its
// bytes are synced, and writes the record only once the folder is.
TEST_F(CommandLineTest, KilledAtAnyStepOfStoringAndCrawledAgainEachToneIsThereOnceAndWhole) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kEveryNthStep = 4; // the sanitizer build tries a sample of the steps
#else
    constexpr int kEveryNthStep = 1;
#endif
    const DemoLibrary library = DemoLibrary::Make(2, 5);
    ServeDemoLibrary(m_server.server(), library);
    m_server.Start();
    std::map<std::string, std::string> expected;
    for (const DemoTone& tone : library.tones)
        expected[tone.storedName] = tone.bytes;

    for (const bool writeInPlace : {false, true}) {
        SCOPED_TRACE(writeInPlace ? "write-in-place folder" : "ordinary folder");
        int nRun = 0;
        // One crawl with its own home; the shim counts or kills when killAt is given.
        auto crawl = [&](const fs::path& home, std::optional<long> killAt) {
            fs::create_directories(home / "tmp");
            fs::create_directories(home / "Tones");
            const fs::path folder = fs::canonical(home / "Tones");
            std::vector<std::string> env{"TMPDIR=" + (home / "tmp").string()};
            if (killAt) {
                env.push_back("LD_PRELOAD=" + std::string(PM_FAULT_SHIM));
                env.push_back("PM_SHIM_FOLDER=" + folder.string());
                env.push_back("PM_SHIM_ALSO=" + fs::canonical(home).string());
                env.push_back("PM_SHIM_KILL_AT=" + std::to_string(*killAt));
                env.push_back("PM_SHIM_LOG=" + (home / "shim.log").string());
                if (writeInPlace)
                    env.push_back("PM_SHIM_NO_LINKS=1");
            }
            return CrawlerProcess({"--quiet", "--url", m_server.Url(library.PagePath(1)),
                                   "--folder", folder.string()},
                                  home / "state", env)
                .Finish();
        };
        const fs::path counted = m_home / ("run-" + std::to_string(nRun++));
        ASSERT_EQ(crawl(counted, 0).status, 0);
        EXPECT_TRUE(FilesIn(counted / "Tones") == expected);
        const std::vector<ShimOperation> operations = ReadShimLog(counted / "shim.log");
        EXPECT_EQ(OrderFault(operations, fs::canonical(counted / "Tones")), "");
        const long steps = std::count_if(operations.begin(), operations.end(), [&](auto& o) {
            return o.path.starts_with(fs::canonical(counted / "Tones").string()) ||
                   o.to.starts_with(fs::canonical(counted / "Tones").string());
        });
        ASSERT_GT(steps, 10);

        int nKilled = 0;
        for (long step = 1; step <= steps; step += kEveryNthStep) {
            SCOPED_TRACE("killed at step " + std::to_string(step));
            const fs::path home = m_home / ("run-" + std::to_string(nRun++));
            nKilled += crawl(home, step).status == -1;
            const Finished again = crawl(home, std::nullopt);
            EXPECT_EQ(again.status, 0) << again.err;
            EXPECT_TRUE(FilesIn(home / "Tones") == expected)
                << "only whole tones under their names, each once, and nothing else";
            fs::remove_all(home);
        }
        EXPECT_GE(nKilled, (steps / kEveryNthStep) * 3 / 4) << "the shim killed the program";
    }
}

} // namespace
