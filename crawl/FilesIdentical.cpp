// Byte-for-byte comparison of two files, sizes first, in 8192-byte blocks.
#include "crawl/FilesIdentical.h"
#include "platform/files/files.h"

#include <cstring>

bool FilesIdentical(LPCWSTR pathA, LPCWSTR pathB) {
    WIN32_FILE_ATTRIBUTE_DATA a{}, b{};
    if (!GetFileAttributesEx(pathA, &a) || !GetFileAttributesEx(pathB, &b))
        return false;
    if (a.nFileSize != b.nFileSize)
        return false;

    CReadFile fileA(pathA);
    if (!fileA.IsOpen())
        return false;
    CReadFile fileB(pathB);
    if (!fileB.IsOpen())
        return false;

    static char blockA[8192];
    static char blockB[8192];
    for (;;) {
        uint32_t readA = 0, readB = 0;
        if (!fileA.Read(blockA, sizeof blockA, &readA) ||
            !fileB.Read(blockB, sizeof blockB, &readB))
            return false;
        if (readA != readB)
            return false;
        if (readA == 0)
            return true;
        if (std::memcmp(blockA, blockB, readA) != 0)
            return false;
    }
}
