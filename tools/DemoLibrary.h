// A generated tone library: numbered pages that link each other and tones with plain,
// percent-escaped UTF-8 and repeated names, some of them byte-identical repeats.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct DemoTone {
    std::string path;        // address path, with its query
    std::string disposition; // Content-Disposition, or empty
    std::string bytes;
    std::string storedName; // the name it gets in an empty folder
    // Validators, stable from one run of the server to the next so a second crawl can ask
    // whether its copy is current.
    std::string etag;
    std::string lastModified;
};

// How the library's pages look. The default pager links the first and last pages and a window
// around the page; a full pager links every page number from every page, so a crawl walks
// pages × pages anchors. Names come through Content-Disposition for some tones by default;
// names in the query give every tone an address ending in its percent-escaped name.
struct DemoShape {
    bool fullPager = false;
    bool namesInQuery = false;
};

struct DemoLibrary {
    int pages = 0;
    DemoShape shape;
    std::vector<std::vector<int>> tonesOfPage; // indexes into tones
    std::vector<DemoTone> tones;

    static DemoLibrary Make(int pages, int tonesPerPage, size_t minSize = 2000,
                            size_t maxSize = 32000, DemoShape shape = {});
    std::string PagePath(int page) const; // page from 1
    std::string PageHtml(int page) const;
    size_t AnchorCount() const; // on all pages together
    // Gives tone id other bytes, a new ETag and a later Last-Modified, as a site does when a
    // tone is replaced.
    void ChangeTone(size_t id);

private:
    bool InPager(int page, int other) const;
};
