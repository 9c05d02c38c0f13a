// An in-memory platform for the logic tests: every operation of
// platform/platform.h answered from state the test sets, and every write
// captured, so the same tests run natively and under wine.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

// Captured standard streams, as UTF-16.
extern std::u16string fake_out;
extern std::u16string fake_err;
// Boxes shown by platform_message_box, text only.
extern std::vector<std::u16string> fake_message_boxes;
// Names the optional entry points do not resolve to (by export name).
extern std::vector<std::string> fake_missing_entry_points;

// Clears every piece of fake state; each test starts with it.
void fake_reset();

// The captured streams as UTF-8, for readable assertions.
std::string fake_out_utf8();
std::string fake_err_utf8();
