// What the pieces of a binding share: small helpers of its transfer, its notifications and
// its limits. Private to the download service.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

namespace urlmon {

// One part of a parsed address; empty when it has none.
std::string UrlPart(CURLU* url, CURLUPart part);

// OnProgress takes 32-bit numbers: a body over 4 GiB is reported to scale.
void FitIn32Bits(uint64_t& progress, uint64_t& progressMax);

// The largest decoded body a binding takes (a test may make it small).
uint64_t MaxBodyBytes();

} // namespace urlmon
