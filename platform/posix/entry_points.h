// A test seam of the optional entry points' stand-in: takes one out of the
// table as if the platform did not supply it.
#pragma once

void posix_hide_entry_point(const char* name, bool hidden);
