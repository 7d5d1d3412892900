#include "tools/DemoLibrary.h"

#include <algorithm>
#include <cstdint>

namespace {

// Deterministic tone bytes: a small header and a pseudo-random body.
std::string ToneBytes(uint32_t seed, size_t size) {
    std::string bytes = "L6T1";
    uint32_t x = seed * 2654435761u + 1;
    while (bytes.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes.push_back(static_cast<char>(x & 0xFF));
    }
    return bytes;
}

struct NameStyle {
    std::string shown;   // the name the user should see
    std::string escaped; // percent-escaped UTF-8 form for addresses
    bool viaDisposition; // served as Content-Disposition rather than in the address
};

const NameStyle kNames[] = {
    {"Warm Pad.l6t", "Warm%20Pad.l6t", true},
    {"Café Crunch.l6t", "Caf%C3%A9%20Crunch.l6t", false},
    {"Clean.l6t", "Clean.l6t", false},
    {"\xE3\x81\x82 Lead.l6t", "%E3%81%82%20Lead.l6t", false},
    {"Bass Drive.l6t", "Bass%20Drive.l6t", true},
    {"Crystal.l6t", "Crystal.l6t", false},
    {"Ñandú Fuzz.l6t", "%C3%91and%C3%BA%20Fuzz.l6t", true},
    {"Twang.l6t", "Twang.l6t", false},
};

} // namespace

DemoLibrary DemoLibrary::Make(int pages, int tonesPerPage) {
    DemoLibrary library;
    library.pages = pages;
    library.tonesOfPage.resize(pages);
    int id = 0;
    std::vector<std::vector<uint32_t>> seedsOfName(std::size(kNames));
    for (int page = 0; page < pages; ++page) {
        for (int i = 0; i < tonesPerPage; ++i, ++id) {
            const NameStyle& style = kNames[id % std::size(kNames)];
            const size_t nameIndex = id % std::size(kNames);
            DemoTone tone;
            // Every fifth tone repeats an earlier tone of the same name under another address.
            uint32_t seed = (id % 5 == 4 && id >= 8) ? id - 8 : id;
            auto& seeds = seedsOfName[nameIndex];
            size_t round = std::find(seeds.begin(), seeds.end(), seed) - seeds.begin();
            if (round == seeds.size())
                seeds.push_back(seed);
            tone.bytes = ToneBytes(seed, 2000 + (seed * 7919) % 30000);
            std::string file = style.escaped;
            if (style.viaDisposition) {
                tone.path = "/download/l6file/" + std::to_string(id);
                bool ascii = std::all_of(style.shown.begin(), style.shown.end(), [](char c) {
                    return static_cast<unsigned char>(c) < 0x80;
                });
                tone.disposition = ascii ? "attachment; filename=\"" + style.shown + "\""
                                         : "attachment; filename*=UTF-8''" + style.escaped;
            } else {
                tone.path = "/l6file/" + std::to_string(id) + "/" + file + "?pmw_filename=" + file;
            }
            std::string base = style.shown.substr(0, style.shown.size() - 4);
            tone.storedName =
                round == 0 ? style.shown : base + "[" + std::to_string(round) + "].l6t";
            library.tonesOfPage[page].push_back(static_cast<int>(library.tones.size()));
            library.tones.push_back(tone);
        }
    }
    return library;
}

std::string DemoLibrary::PagePath(int page) const {
    return page == 1 ? "/library.html?product_id=12"
                     : "/library.html?product_id=12&page=" + std::to_string(page);
}

std::string DemoLibrary::PageHtml(int page) const {
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                       "<title>Patchmere demo library, page " +
                       std::to_string(page) + "</title></head><body>\n<h1>Tones</h1>\n<ul>\n";
    for (int index : tonesOfPage[page - 1]) {
        const DemoTone& tone = tones[index];
        html += "<li><a href=\"" + tone.path + "\">" + tone.storedName + "</a></li>\n";
    }
    html += "</ul>\n<p>Pages:";
    for (int other = 1; other <= pages; ++other)
        html += " <a href=\"" + PagePath(other) + "\">" + std::to_string(other) + "</a>";
    html += " <a href=\"" + PagePath(page < pages ? page + 1 : 1) + "\">next</a></p>\n";
    html += "</body></html>\n";
    return html;
}
