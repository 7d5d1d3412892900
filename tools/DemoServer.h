// Serves a generated library through an HTTP server: its pages and its tones.
#pragma once

#include "tools/DemoLibrary.h"

#include <httplib.h>

#include <atomic>

// What the server sent: tone bodies and the tone requests answered "not modified".
struct DemoStats {
    std::atomic<long> toneRequests{0};
    std::atomic<long> notModified{0};
    std::atomic<long long> toneBodyBytes{0};
};

// Adds the library's routes; the library (and stats, when given) must outlive the server.
// Tones carry an ETag and a Last-Modified and answer a matching conditional request with 304.
void ServeDemoLibrary(httplib::Server& server, const DemoLibrary& library,
                      DemoStats* stats = nullptr);
