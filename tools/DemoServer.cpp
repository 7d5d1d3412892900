#include "tools/DemoServer.h"

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

std::time_t HttpDate(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return end && !*end ? timegm(&tm) : -1;
}

// If-None-Match decides when it is there (any listed tag or "*"); else If-Modified-Since.
bool IsCurrent(const httplib::Request& req, const DemoTone& tone) {
    if (req.has_header("If-None-Match")) {
        const std::string tags = req.get_header_value("If-None-Match");
        return tags == "*" || tags.find(tone.etag) != std::string::npos;
    }
    if (req.has_header("If-Modified-Since")) {
        std::time_t since = HttpDate(req.get_header_value("If-Modified-Since"));
        return since >= 0 && HttpDate(tone.lastModified) <= since;
    }
    return false;
}

} // namespace

void ServeDemoLibrary(httplib::Server& server, const DemoLibrary& library, DemoStats* stats) {
    server.Get("/library.html", [&](const httplib::Request& req, httplib::Response& res) {
        int page = req.has_param("page") ? std::atoi(req.get_param_value("page").c_str()) : 1;
        if (req.get_param_value("product_id") != "12" || page < 1 || page > library.pages) {
            res.status = 404;
            return;
        }
        res.set_content(library.PageHtml(page), "text/html; charset=utf-8");
    });
    // Tone addresses carry the tone's number after "l6file/".
    auto serveTone = [&library, stats](const httplib::Request& req, httplib::Response& res) {
        size_t id = std::strtoul(std::string(req.matches[1]).c_str(), nullptr, 10);
        if (id >= library.tones.size()) {
            res.status = 404;
            return;
        }
        const DemoTone& tone = library.tones[id];
        if (stats)
            ++stats->toneRequests;
        res.set_header("ETag", tone.etag);
        res.set_header("Last-Modified", tone.lastModified);
        if (IsCurrent(req, tone)) {
            res.status = 304;
            if (stats)
                ++stats->notModified;
            return;
        }
        if (!tone.disposition.empty())
            res.set_header("Content-Disposition", tone.disposition);
        res.set_content(tone.bytes, "application/octet-stream");
        if (stats && req.method != "HEAD") // a HEAD is answered without the body
            stats->toneBodyBytes += static_cast<long long>(tone.bytes.size());
    };
    server.Get(R"(/l6file/(\d+)/.*)", serveTone);
    server.Get(R"(/download/l6file/(\d+))", serveTone);
}
