// Text: UTF-8 <-> UTF-16 without loss, for everything the Linux stand-ins
// hand between the system's bytes and Morla's UTF-16. A byte that is not part of valid UTF-8
// becomes the lone surrogate U+DC00 + byte (U+DC80-U+DCFF), and encoding turns
// such a unit back into that byte; other lone surrogates encode as U+FFFD.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

// out must hold count units; returns the units stored.
size_t utf8_to_utf16(const char* bytes, size_t count, wchar* out);
// out must hold 3 * count bytes; returns the bytes stored.
size_t utf16_to_utf8(const wchar* units, size_t count, char* out);

// The same, as strings.
std::u16string utf16_text(const std::string& bytes);
std::string utf8_text(const wchar* units, size_t count);
