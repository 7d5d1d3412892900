// Locale-independent simple case folding of one UTF-16 unit (the Basic Multilingual Plane).
#pragma once

char16_t FoldCase(char16_t unit);
