// Serves the generated demo library on 127.0.0.1 until it is stopped.
//   pmdemo-server [--port N] [--pages N] [--tones-per-page N] [--min-size B] [--max-size B]
//                 [--expect FILE] [--urls FILE] [--tone-delay-ms MS] [--delay-ms MS]
//                 [--shape default|full-pager] [--change-tone N] [--stats FILE]
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
#include "tools/DemoLibrary.h"
#include "tools/DemoServer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace {
httplib::Server* g_server = nullptr;
void Stop(int) {
    if (g_server)
        g_server->stop();
}
} // namespace

int main(int argc, char** argv) {
    int port = 0, pages = 5, tonesPerPage = 8, toneDelayMs = 0, delayMs = 0;
    long minSize = 2000, maxSize = 32000;
    std::string expectFile, statsFile, urlsFile;
    long changedTone = -1;
    DemoShape shape;
    bool badShape = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--port"))
            port = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--pages"))
            pages = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--tones-per-page"))
            tonesPerPage = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--min-size"))
            minSize = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--max-size"))
            maxSize = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--expect"))
            expectFile = argv[i + 1];
        else if (!std::strcmp(argv[i], "--stats"))
            statsFile = argv[i + 1];
        else if (!std::strcmp(argv[i], "--change-tone"))
            changedTone = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--tone-delay-ms"))
            toneDelayMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--urls"))
            urlsFile = argv[i + 1];
        else if (!std::strcmp(argv[i], "--delay-ms"))
            delayMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--shape")) {
            const bool full = !std::strcmp(argv[i + 1], "full-pager");
            badShape = !full && std::strcmp(argv[i + 1], "default") != 0;
            shape = DemoShape{full, full};
        }
    }
    if (badShape || pages < 1 || tonesPerPage < 0 || minSize < 4 || maxSize < minSize ||
        toneDelayMs < 0 || delayMs < 0) {
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
    DemoStats stats;
    std::atomic<long> requests{0};
    ServeDemoLibrary(server, library, &stats);
    server.set_logger(
        [&requests](const httplib::Request&, const httplib::Response&) { ++requests; });
    if (toneDelayMs > 0 || delayMs > 0) {
        server.set_pre_routing_handler(
            [toneDelayMs, delayMs](const httplib::Request& req, httplib::Response&) {
                int hold = delayMs;
                if (req.path.find("l6file") != std::string::npos)
                    hold += toneDelayMs;
                std::this_thread::sleep_for(std::chrono::milliseconds(hold));
                return httplib::Server::HandlerResponse::Unhandled;
            });
    }

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
            << "\n";
    }
    return 0;
}
