// Text that comes from a volume or the system (file names, volume names,
// device and folder paths), made safe to show on a terminal before Morla
// prints it: nothing in it may move the cursor, end a line, start a terminal
// command or reorder the characters around it.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// Copies text to out, at most room units (room >= 2), and returns how many
// units of text it took; a surrogate pair is never split, so fewer than room
// units may be taken. On the way these become '?': U+0000-U+001F, U+007F-U+009F,
// U+061C, U+200E, U+200F, U+2028-U+202E and U+2066-U+2069; a surrogate
// without its partner becomes U+FFFD. Every other unit is copied unchanged.
size_t copy_safe_text(const wchar* text, size_t count, wchar* out, size_t room);
