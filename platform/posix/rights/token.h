// IsUserAnAdmin's stand-in, reached through the optional entry points' table.
#pragma once

#include "platform/platform.h"

int PLATFORM_API posix_is_user_an_admin();
