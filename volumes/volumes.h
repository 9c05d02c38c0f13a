// Volume enumeration: every volume of the system, searched under its first
// mount path.
#pragma once

#include "platform/platform.h"

void search_all_volumes(const wchar* pattern);
