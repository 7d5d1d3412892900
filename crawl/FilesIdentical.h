#pragma once

#include "platform/com/com.h"

// True when both files can be read and have the same size and the same bytes.
bool FilesIdentical(LPCWSTR pathA, LPCWSTR pathB);
