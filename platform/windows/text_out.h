// UTF-16 text made ready for a Windows stream: lone surrogates mended to
// U+FFFD (UTF-8 cannot carry them), pairs kept whole across separate writes,
// and UTF-8 encoding for files and pipes; and the way back, for relayed
// UTF-8 shown on a console.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"
#include "platform/utf8.h"

// A high surrogate that ended one write, held back until the next write of
// the same stream shows whether a low surrogate completes it. 0 when none.
struct SurrogateCarry {
    wchar high;
};

// Copies count units to out (room for count + 1 units), the held-back high
// surrogate first, with every lone surrogate replaced by U+FFFD. A high
// surrogate at the very end is held back in carry instead of being copied.
// Returns the units stored.
size_t mend_utf16(SurrogateCarry* carry, const wchar* units, size_t count, wchar* out);

// Releases a held-back high surrogate as U+FFFD into out (room for 1 unit);
// returns the units stored, 0 or 1. Used when the stream is flushed.
size_t release_carry(SurrogateCarry* carry, wchar* out);

// A console write takes at most this many units of a line, plus a low
// surrogate completing a pair and the CR LF that ends the line.
enum : size_t { CONSOLE_PIECE_UNITS = 512, CONSOLE_PIECE_ROOM = CONSOLE_PIECE_UNITS + 3 };

// The next piece of mended text for one console write, from units[start]:
// up to and including the next line feed, which becomes CR LF as text mode
// writes it, never more than CONSOLE_PIECE_UNITS units before it, and never
// cutting a surrogate pair. out has room for CONSOLE_PIECE_ROOM units;
// *stored gets the units stored. Returns where the next piece starts.
size_t console_piece(const wchar* units, size_t count, size_t start, wchar* out, size_t* stored);

// UTF-8 for mended text (room for 3 * count bytes); a lone surrogate that
// still arrives becomes U+FFFD. Returns the bytes stored.
size_t encode_utf8(const wchar* units, size_t count, char* out);

// UTF-16 for UTF-8 bytes that arrive in pieces (room for count + 1 units): a
// character split between two pieces comes out whole with the second, and
// each malformed sequence becomes U+FFFD. Returns the units stored.
size_t decode_utf8(Utf8Carry* carry, const uint8_t* bytes, size_t count, wchar* out);
