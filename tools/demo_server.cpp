// Serves the generated demo library on 127.0.0.1 until it is stopped.
//   pmdemo-server [--port N] [--pages N] [--tones-per-page N] [--min-size B] [--max-size B]
//                 [--expect FILE] [--urls FILE] [--tone-delay-ms MS] [--delay-ms MS]
//                 [--shape default|full-pager] [--change-tone N] [--stats FILE]
//                 [--limit R] [--burst B] [--one-connection] [--busy-when-concurrent]
//                 [--trickle-tone N]
// Prints the start address on its first line and the number of anchors on all pages on its
// second. With --expect, writes the names the tones get in an empty folder, one per line, so
// a run can be checked. With --urls, writes the address path of every page and every tone
// (with its query), one per line, so that another client can fetch the same things.
// --tone-delay-ms holds each tone back for a while, so that a person can watch a small
// library being crawled. --delay-ms holds every response back, as a server a round trip away
// would. The full-pager shape links every page number from every page and names every tone in
// its address's pmw_filename= query. --change-tone gives tone N other bytes, as a site that
// replaced it would serve it. --stats writes, when the server stops, shell assignments of the
// requests it answered, its tone requests, those answered "not modified" and the bytes of
// tone bodies it sent.
// Servers that push back: --limit lets R requests a second through (a burst of --burst,
// default 5) and answers the rest "429 Too Many Requests" with "Retry-After: 1", as a rate
// limiter in front of a site does; --busy-when-concurrent answers a request that arrives
// while another is being answered "503 Service Unavailable" with "Retry-After: 1";
// --one-connection serves one connection at a time, keeping it open between requests, as a
// single-threaded server does; --trickle-tone sends tone N at one byte a second.
#include "tools/DemoLibrary.h"
#include "tools/DemoServer.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace {
httplib::Server* g_server = nullptr;
void Stop(int) {
    if (g_server)
        g_server->stop();
}

// A token bucket: rate tokens a second, at most burst saved up; a request takes one.
class RateLimiter {
public:
    RateLimiter(double rate, double burst)
        : m_rate(rate), m_burst(burst), m_tokens(burst), m_last(Clock::now()) {}
    bool Take() {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Clock::now();
        m_tokens = std::min(
            m_burst, m_tokens + m_rate * std::chrono::duration<double>(now - m_last).count());
        m_last = now;
        if (m_tokens < 1)
            return false;
        m_tokens -= 1;
        return true;
    }

private:
    using Clock = std::chrono::steady_clock;
    std::mutex m_mutex;
    double m_rate, m_burst, m_tokens;
    Clock::time_point m_last;
};

void PushBack(httplib::Response& res, int status) {
    res.status = status;
    res.set_header("Retry-After", "1");
    res.set_content(status == 429 ? "Too Many Requests" : "Service Unavailable", "text/plain");
}
} // namespace

int main(int argc, char** argv) {
    int port = 0, pages = 5, tonesPerPage = 8, toneDelayMs = 0, delayMs = 0;
    long minSize = 2000, maxSize = 32000;
    std::string expectFile, statsFile, urlsFile;
    long changedTone = -1, trickleTone = -1;
    double limit = 0, burst = 5;
    bool oneConnection = false, busyWhenConcurrent = false;
    DemoShape shape;
    bool badShape = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!std::strcmp(arg, "--one-connection")) {
            oneConnection = true;
            continue;
        }
        if (!std::strcmp(arg, "--busy-when-concurrent")) {
            busyWhenConcurrent = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        const char* value = argv[++i];
        if (!std::strcmp(arg, "--limit"))
            limit = std::atof(value);
        else if (!std::strcmp(arg, "--burst"))
            burst = std::atof(value);
        else if (!std::strcmp(arg, "--trickle-tone"))
            trickleTone = std::atol(value);
        else if (!std::strcmp(arg, "--port"))
            port = std::atoi(value);
        else if (!std::strcmp(arg, "--pages"))
            pages = std::atoi(value);
        else if (!std::strcmp(arg, "--tones-per-page"))
            tonesPerPage = std::atoi(value);
        else if (!std::strcmp(arg, "--min-size"))
            minSize = std::atol(value);
        else if (!std::strcmp(arg, "--max-size"))
            maxSize = std::atol(value);
        else if (!std::strcmp(arg, "--expect"))
            expectFile = value;
        else if (!std::strcmp(arg, "--stats"))
            statsFile = value;
        else if (!std::strcmp(arg, "--change-tone"))
            changedTone = std::atol(value);
        else if (!std::strcmp(arg, "--tone-delay-ms"))
            toneDelayMs = std::atoi(value);
        else if (!std::strcmp(arg, "--urls"))
            urlsFile = value;
        else if (!std::strcmp(arg, "--delay-ms"))
            delayMs = std::atoi(value);
        else if (!std::strcmp(arg, "--shape")) {
            const bool full = !std::strcmp(value, "full-pager");
            badShape = !full && std::strcmp(value, "default") != 0;
            shape = DemoShape{full, full};
        }
    }
    if (badShape || pages < 1 || tonesPerPage < 0 || minSize < 4 || maxSize < minSize ||
        toneDelayMs < 0 || delayMs < 0 || limit < 0 || burst < 1) {
        std::fprintf(stderr, "pmdemo-server: bad arguments\n");
        return 2;
    }
    DemoLibrary library = DemoLibrary::Make(pages, tonesPerPage, minSize, maxSize, shape);
    if (changedTone >= static_cast<long>(library.tones.size())) {
        std::fprintf(stderr, "pmdemo-server: no tone %ld\n", changedTone);
        return 2;
    }
    if (changedTone >= 0)
        library.ChangeTone(static_cast<size_t>(changedTone));
    if (!expectFile.empty()) {
        std::set<std::string> names;
        for (const DemoTone& tone : library.tones)
            names.insert(tone.storedName);
        std::ofstream out(expectFile);
        for (const std::string& name : names)
            out << name << "\n";
    }
    if (!urlsFile.empty()) {
        std::ofstream out(urlsFile);
        for (int page = 1; page <= library.pages; ++page)
            out << library.PagePath(page) << "\n";
        for (const DemoTone& tone : library.tones)
            out << tone.path << "\n";
    }

    httplib::Server server;
    server.set_keep_alive_max_count(100000);
    server.set_tcp_nodelay(true);
    if (oneConnection) {
        server.new_task_queue = [] { return new httplib::ThreadPool(1); };
        server.set_keep_alive_timeout(60);
    }
    DemoStats stats;
    std::atomic<long> requests{0}, pushedBack{0};
    if (trickleTone >= static_cast<long>(library.tones.size())) {
        std::fprintf(stderr, "pmdemo-server: no tone %ld\n", trickleTone);
        return 2;
    }
    ServeDemoLibrary(server, library, &stats);
    server.set_logger(
        [&requests](const httplib::Request&, const httplib::Response&) { ++requests; });
    RateLimiter limiter(limit, burst);
    const std::string trickledPrefix = "/l6file/" + std::to_string(trickleTone) + "/";
    std::atomic<int> inFlight{0};
    server.set_pre_routing_handler(
        [&, toneDelayMs, delayMs](const httplib::Request& req, httplib::Response& res) {
            if (limit > 0 && !limiter.Take()) {
                ++pushedBack;
                PushBack(res, 429);
                return httplib::Server::HandlerResponse::Handled;
            }
            if (busyWhenConcurrent && ++inFlight > 1) {
                --inFlight;
                ++pushedBack;
                PushBack(res, 503);
                return httplib::Server::HandlerResponse::Handled;
            }
            const bool trickled =
                trickleTone >= 0 &&
                (req.path.starts_with(trickledPrefix) ||
                 req.path == "/download" + trickledPrefix.substr(0, trickledPrefix.size() - 1));
            if (trickled) {
                const std::string& bytes = library.tones[static_cast<size_t>(trickleTone)].bytes;
                res.set_content_provider(bytes.size(), "application/octet-stream",
                                         [&bytes](size_t offset, size_t, httplib::DataSink& sink) {
                                             std::this_thread::sleep_for(std::chrono::seconds(1));
                                             return sink.write(bytes.data() + offset, 1);
                                         });
                return httplib::Server::HandlerResponse::Handled;
            }
            int hold = delayMs;
            if (req.path.find("l6file") != std::string::npos)
                hold += toneDelayMs;
            if (hold > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(hold));
            return httplib::Server::HandlerResponse::Unhandled;
        });
    if (busyWhenConcurrent)
        server.set_post_routing_handler(
            [&inFlight](const httplib::Request&, httplib::Response&) { --inFlight; });

    int bound = port ? (server.bind_to_port("127.0.0.1", port) ? port : -1)
                     : server.bind_to_any_port("127.0.0.1");
    if (bound < 0) {
        std::fprintf(stderr, "pmdemo-server: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    std::printf("http://127.0.0.1:%d%s\n%zu anchors\n", bound, library.PagePath(1).c_str(),
                library.AnchorCount());
    std::fflush(stdout);
    g_server = &server;
    std::signal(SIGINT, Stop);
    std::signal(SIGTERM, Stop);
    server.listen_after_bind();
    if (!statsFile.empty()) {
        std::ofstream out(statsFile);
        out << "REQUESTS=" << requests << "\nTONE_REQUESTS=" << stats.toneRequests
            << "\nNOT_MODIFIED=" << stats.notModified << "\nTONE_BYTES=" << stats.toneBodyBytes
            << "\nPUSHED_BACK=" << pushedBack << "\n";
    }
    return 0;
}
