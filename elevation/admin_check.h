// The administrator check made before every search: 0 to proceed, 1 to refuse
// (the entry function turns that into exit status 2). For an administrator
// whose process runs with a limited token it hands the process over to the
// requester, which relays an elevated search and never returns.
#pragma once

int administrator_check();
