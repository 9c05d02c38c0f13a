#include "base/reports.h"

#include "base/format.h"
#include "base/relay_trailer.h"
#include "base/text.h"

namespace {

const wchar kReportFormat[] = u"%s failed with error %d: %s";
// When the system has no text for the code, the report still names the step
// and the code.
const wchar kNoText[] = u"(no message text for this code)\n";

// The code of the write failure that is ending the run; 0 until one does.
uint32_t output_failure = 0;

// Every end of the process but the entry function's return, which tells
// the requester itself.
[[noreturn]] void exit_with(uint32_t code) {
    tell_requester(code);
    platform_exit_process(code);
}

[[noreturn]] void end_process(uint32_t code) {
    deliver_output();
    exit_with(code);
}

}  // namespace

void deliver_output() {
    if (!platform_flush(STREAM_OUT) || !platform_flush(STREAM_ERR)) output_failure_report();
}

void output_failure_report() {
    uint32_t code = platform_last_error();
    // The report of a failed write could not be written either: end with the first code.
    if (output_failure) exit_with(output_failure);
    output_failure = code;
    // Nobody reads any more: end at once and quietly, as a filter does.
    if (platform_reader_gone(code)) platform_exit_process(code);
    console_report(u"Write output");
    // Standard output's pending bytes are not tried again: they failed once.
    if (!platform_flush(STREAM_ERR)) output_failure_report();
    exit_with(code);
}

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
