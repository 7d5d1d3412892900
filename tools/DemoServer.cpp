#include "tools/DemoServer.h"

#include <cstdlib>
#include <string>

void ServeDemoLibrary(httplib::Server& server, const DemoLibrary& library) {
    server.Get("/library.html", [&](const httplib::Request& req, httplib::Response& res) {
        int page = req.has_param("page") ? std::atoi(req.get_param_value("page").c_str()) : 1;
        if (req.get_param_value("product_id") != "12" || page < 1 || page > library.pages) {
            res.status = 404;
            return;
        }
        res.set_content(library.PageHtml(page), "text/html; charset=utf-8");
    });
    // Tone addresses carry the tone's number after "l6file/".
    auto serveTone = [&](const httplib::Request& req, httplib::Response& res) {
        size_t id = std::strtoul(std::string(req.matches[1]).c_str(), nullptr, 10);
        if (id >= library.tones.size()) {
            res.status = 404;
            return;
        }
        const DemoTone& tone = library.tones[id];
        if (!tone.disposition.empty())
            res.set_header("Content-Disposition", tone.disposition);
        res.set_content(tone.bytes, "application/octet-stream");
    };
    server.Get(R"(/l6file/(\d+)/.*)", serveTone);
    server.Get(R"(/download/l6file/(\d+))", serveTone);
}
