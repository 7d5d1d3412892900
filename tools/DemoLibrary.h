// A generated tone library: numbered pages that link each other and tones with plain,
// percent-escaped UTF-8 and repeated names, some of them byte-identical repeats.
#pragma once

#include <string>
#include <vector>

struct DemoTone {
    std::string path;        // address path, with its query
    std::string disposition; // Content-Disposition, or empty
    std::string bytes;
    std::string storedName; // the name it gets in an empty folder
};

struct DemoLibrary {
    int pages = 0;
    std::vector<std::vector<int>> tonesOfPage; // indexes into tones
    std::vector<DemoTone> tones;

    static DemoLibrary Make(int pages, int tonesPerPage, size_t minSize = 2000,
                            size_t maxSize = 32000);
    std::string PagePath(int page) const; // page from 1
    std::string PageHtml(int page) const;
};
