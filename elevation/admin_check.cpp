#include "elevation/admin_check.h"

#include "elevation/requester.h"
#include "base/entry_points.h"
#include "base/format.h"
#include "base/reports.h"

namespace {
const wchar kRefusal[] = u"Sorry, this utility can only be run by Administrators.\n";
}  // namespace

int administrator_check() {
    // A platform without the query leaves the decision to the token.
    if (admin_query && admin_query()) return 0;
    Handle token = nullptr;
    if (!platform_open_process_token(platform_get_current_process(), TOKEN_ACCESS_QUERY, &token)) {
        console_report(u"OpenProcessToken");
    } else {
        uint32_t type = 0, returned = 0;
        if (!platform_get_token_information(token, TOKEN_CLASS_ELEVATION_TYPE, &type, sizeof type,
                                            &returned)) {
            // "Invalid function": the platform has no elevation; nothing to report.
            if (platform_last_error() != ERROR_CODE_INVALID_FUNCTION)
                console_report(u"GetTokenInformation");
        } else if (type == ELEVATION_TYPE_LIMITED) {
            // The token stays open until the requester ends the process.
            requester_entry();
        }
        platform_close_handle(token);
    }
    print_err(kRefusal);
    return 1;
}
