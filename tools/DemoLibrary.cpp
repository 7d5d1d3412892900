#include "tools/DemoLibrary.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>

namespace {

uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    return x ^ (x >> 16);
}

// Deterministic tone bytes: a small header and a pseudo-random body.
std::string ToneBytes(uint32_t seed, size_t size) {
    std::string bytes = "L6T1";
    uint32_t x = Mix(seed + 1) | 1;
    while (bytes.size() < size) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes.push_back(static_cast<char>(x & 0xFF));
    }
    return bytes;
}

std::string Escape(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// An ETag from the bytes: FNV-1a, quoted.
std::string ETagOf(const std::string& bytes) {
    uint64_t hash = 0xCBF29CE484222325u;
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 0x100000001B3u;
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return text;
}

constexpr char kPublished[] = "Mon, 01 Jan 2024 00:00:00 GMT";
constexpr char kReplaced[] = "Tue, 02 Jan 2024 00:00:00 GMT";

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Name bases; those served through Content-Disposition are marked.
struct NameStyle {
    const char* base;
    bool viaDisposition;
};
const NameStyle kNames[] = {
    {"Warm Pad", true},
    {"Caf\xC3\xA9 Crunch", false},
    {"Clean", false},
    {"\xE3\x81\x82 Lead", false},
    {"Bass Drive", true},
    {"Crystal", false},
    {"\xC3\x91"
     "and\xC3\xBA Fuzz",
     true},
    {"Twang", false},
};
constexpr int kBlock = 24; // within a block each name comes three times

} // namespace

DemoLibrary DemoLibrary::Make(int pages, int tonesPerPage, size_t minSize, size_t maxSize,
                              DemoShape shape) {
    DemoLibrary library;
    library.pages = pages;
    library.shape = shape;
    library.tonesOfPage.resize(pages);
    std::map<std::string, std::vector<uint32_t>> seedsOfName;
    int id = 0;
    for (int page = 0; page < pages; ++page) {
        for (int i = 0; i < tonesPerPage; ++i, ++id) {
            const NameStyle& style = kNames[id % std::size(kNames)];
            std::string name = style.base;
            if (id >= kBlock)
                name += "-" + std::to_string(id / kBlock + 1);
            name += ".l6t";
            // Some tones repeat an earlier tone of the same name, byte for byte.
            uint32_t seed = (id % 5 == 4 && id % kBlock >= 8) ? id - 8 : id;

            DemoTone tone;
            size_t span = maxSize > minSize ? maxSize - minSize : 1;
            tone.bytes = ToneBytes(seed, minSize + Mix(seed * 7919u) % span);
            tone.etag = ETagOf(tone.bytes);
            tone.lastModified = kPublished;
            if (style.viaDisposition && !shape.namesInQuery) {
                tone.path = "/download/l6file/" + std::to_string(id);
                tone.disposition = IsAscii(name) ? "attachment; filename=\"" + name + "\""
                                                 : "attachment; filename*=UTF-8''" + Escape(name);
            } else {
                tone.path = "/l6file/" + std::to_string(id) + "/" + Escape(name) +
                            "?pmw_filename=" + Escape(name);
                // The crawler decodes a name from an address only when it holds UTF-8; a
                // plain name keeps its escapes.
                if (IsAscii(name))
                    name = Escape(name);
            }
            auto& seeds = seedsOfName[name];
            size_t round = std::find(seeds.begin(), seeds.end(), seed) - seeds.begin();
            if (round == seeds.size())
                seeds.push_back(seed);
            tone.storedName = round == 0 ? name
                                         : name.substr(0, name.size() - 4) + "[" +
                                               std::to_string(round) + "].l6t";
            library.tonesOfPage[page].push_back(static_cast<int>(library.tones.size()));
            library.tones.push_back(std::move(tone));
        }
    }
    return library;
}

void DemoLibrary::ChangeTone(size_t id) {
    DemoTone& tone = tones.at(id);
    tone.bytes[tone.bytes.size() / 2] ^= 0x5A;
    tone.etag = ETagOf(tone.bytes);
    tone.lastModified = kReplaced;
}

std::string DemoLibrary::PagePath(int page) const {
    return page == 1 ? "/library.html?product_id=12"
                     : "/library.html?product_id=12&page=" + std::to_string(page);
}

// A pager as such sites have it: every page, or the first and last pages and a window around
// this one.
bool DemoLibrary::InPager(int page, int other) const {
    return shape.fullPager || other == 1 || other == pages ||
           (other >= page - 5 && other <= page + 5);
}

size_t DemoLibrary::AnchorCount() const {
    size_t count = 0;
    for (int page = 1; page <= pages; ++page) {
        count += tonesOfPage[page - 1].size() + 1; // the tones and "next"
        for (int other = 1; other <= pages; ++other)
            count += InPager(page, other);
    }
    return count;
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
    for (int other = 1; other <= pages; ++other) {
        if (InPager(page, other))
            html += " <a href=\"" + PagePath(other) + "\">" + std::to_string(other) + "</a>";
    }
    html += " <a href=\"" + PagePath(page < pages ? page + 1 : 1) + "\">next</a></p>\n";
    html += "</body></html>\n";
    return html;
}
