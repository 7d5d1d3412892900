// The system's words for an error number, for every message that gives its reason.
#pragma once

#include <string>

// What the system says an errno value means ("No space left on device"), as it says it.
// Safe to call from any thread, unlike strerror.
std::u16string SystemErrorText(int error);
