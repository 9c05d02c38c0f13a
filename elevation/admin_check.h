// The administrator check: 0 to proceed, 1 to refuse; for an administrator's
// limited token it hands the process over to the requester and never returns.
#pragma once

int administrator_check();
