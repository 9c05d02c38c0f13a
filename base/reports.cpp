#include "base/reports.h"

#include "base/format.h"
#include "base/text.h"

namespace {

const wchar kReportFormat[] = u"%s failed with error %d: %s";
// When the system has no text for the code, the report still names the step
// and the code.
const wchar kNoText[] = u"(no message text for this code)\n";

[[noreturn]] void end_process(uint32_t code) {
    platform_flush(STREAM_OUT);
    platform_flush(STREAM_ERR);
    platform_exit_process(code);
}

}  // namespace

uint32_t console_report(const wchar* step) {
    uint32_t code = platform_last_error();
    wchar* text = nullptr;
    platform_format_message(MESSAGE_FROM_SYSTEM, code, &text);
    print_err(kReportFormat, step, int32_t(code), text ? text : kNoText);
    if (text) platform_local_free(text);
    return code;
}

void fatal_report(const wchar* step) { end_process(console_report(step)); }

void message_box_report(const wchar* step) {
    uint32_t code = platform_last_error();
    wchar* text = nullptr;
    platform_format_message(MESSAGE_FROM_SYSTEM_IGNORE_INSERTS, code, &text);
    const wchar* shown = text ? text : kNoText;
    // 40 spare units cover the format's fixed part, the longest number and the NUL.
    size_t units = text_length(step) + text_length(shown) + 40;
    wchar* box = static_cast<wchar*>(platform_local_alloc_zeroed(units * sizeof(wchar)));
    if (box)
        format_terminated(box, platform_local_size(box) / 2, kReportFormat, step, int32_t(code),
                          shown);
    platform_message_box(box ? box : u"", u"Error");
    if (text) platform_local_free(text);
    if (box) platform_local_free(box);
    end_process(code);
}
