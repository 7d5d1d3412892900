// Serves a generated library through an HTTP server: its pages and its tones.
#pragma once

#include "tools/DemoLibrary.h"

#include <httplib.h>

// Adds the library's routes; the library must outlive the server.
void ServeDemoLibrary(httplib::Server& server, const DemoLibrary& library);
