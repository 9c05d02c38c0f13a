// The Windows start-up: the runtime splits the command line into wide
// arguments (-municode), and the entry function takes them as they are.
#include "base/relay_trailer.h"
#include "base/reports.h"
#include "front/entry.h"

static_assert(sizeof(wchar_t) == sizeof(wchar), "Windows wide text is UTF-16");

extern "C" int wmain(int argc, wchar_t** argv) {
    int status = morla_entry(argc, reinterpret_cast<wchar**>(argv));
    // A surrogate held back for a pair that never came goes out too; a write
    // that fails ends the run with its code.
    deliver_output();
    tell_requester(uint32_t(status));
    return status;
}
