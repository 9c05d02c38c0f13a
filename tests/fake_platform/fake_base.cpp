// Fake last error, streams, reports, process exit and entry-point look-up.
#include <cstdlib>
#include <cstring>
#include <cstdio>

#include "tests/fake_platform/fake_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

std::u16string fake_out;
std::u16string fake_err;
std::vector<std::u16string> fake_out_writes;
std::vector<std::u16string> fake_message_boxes;
std::vector<std::string> fake_missing_entry_points;
uint32_t fake_out_write_error, fake_err_write_error;

namespace {
uint32_t last_error = 0;

std::string to_utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct LocalHeader {
    size_t size;
    size_t pad;
};
}  // namespace

void fake_reset_volumes();
void fake_reset_volume_list();
void fake_reset_rights();
void fake_reset_relay();

void fake_reset() {
    fake_out.clear();
    fake_err.clear();
    fake_out_writes.clear();
    fake_message_boxes.clear();
    fake_missing_entry_points.clear();
    fake_out_write_error = fake_err_write_error = 0;
    last_error = 0;
    fake_reset_volumes();
    fake_reset_volume_list();
    fake_reset_rights();
    fake_reset_relay();
}

std::string fake_out_utf8() { return to_utf8(fake_out); }
std::string fake_err_utf8() { return to_utf8(fake_err); }

uint32_t platform_last_error() { return last_error; }
void platform_set_last_error(uint32_t code) { last_error = code; }

// Far beyond what any test prints: a search that loops (in a death test's
// child, out of the test's sight) ends here instead of filling the memory.
constexpr size_t FAKE_STREAM_LIMIT = 16u << 20;

int platform_write_text(int stream, const wchar* units, size_t count) {
    uint32_t error = stream == STREAM_OUT ? fake_out_write_error : fake_err_write_error;
    if (error) {
        platform_set_last_error(error);
        return 0;
    }
    std::u16string& captured = stream == STREAM_OUT ? fake_out : fake_err;
    if (captured.size() + count > FAKE_STREAM_LIMIT) {
        std::fputs("fake platform: a stream passed its limit; the search does not end\n", stderr);
        std::abort();
    }
    captured.append(units, count);
    if (stream == STREAM_OUT) fake_out_writes.emplace_back(units, count);
    return 1;
}
int platform_flush(int) { return 1; }
// The broken-pipe codes of Windows.
int platform_reader_gone(uint32_t code) { return code == 109 || code == 232; }

uint32_t platform_format_message(uint32_t, uint32_t code, wchar** text) {
    std::u16string message = u"fake text for " + std::u16string(1, u'0' + wchar(code % 10)) + u"\n";
    wchar* units =
        static_cast<wchar*>(platform_local_alloc_zeroed((message.size() + 1) * sizeof(wchar)));
    *text = units;
    if (!units) return 0;
    std::memcpy(units, message.data(), message.size() * sizeof(wchar));
    return uint32_t(message.size());
}

void* platform_local_alloc_zeroed(size_t bytes) {
    LocalHeader* block = static_cast<LocalHeader*>(std::calloc(1, sizeof(LocalHeader) + bytes));
    if (!block) return nullptr;
    block->size = bytes;
    return block + 1;
}
size_t platform_local_size(void* block) { return (static_cast<LocalHeader*>(block) - 1)->size; }
void platform_local_free(void* block) {
    if (block) std::free(static_cast<LocalHeader*>(block) - 1);
}

void platform_message_box(const wchar* text, const wchar*) { fake_message_boxes.push_back(text); }

// Death tests watch the real standard error; the captured one is written there.
void platform_exit_process(uint32_t code) {
    std::string err = fake_err_utf8();
    for (const std::u16string& box : fake_message_boxes) err += "BOX: " + to_utf8(box);
    std::fwrite(err.data(), 1, err.size(), stderr);
    std::fflush(stderr);
#ifdef _WIN32
    ExitProcess(code);
#else
    _exit(int(code));
#endif
}

int PLATFORM_API fake_volume_path_names(const wchar*, wchar*, uint32_t, uint32_t*);
int PLATFORM_API fake_is_user_an_admin();

void* platform_load_library(const wchar* name) {
    static const char kernel[] = "kernel32.dll", shell[] = "shell32.dll";
    if (std::u16string(name) == u"kernel32.dll") return const_cast<char*>(kernel);
    if (std::u16string(name) == u"shell32.dll") return const_cast<char*>(shell);
    return nullptr;
}

void* platform_get_proc_address(void* module, const char* name) {
    for (const std::string& missing : fake_missing_entry_points)
        if (missing == name) return nullptr;
    std::string library = static_cast<const char*>(module);
    if (library == "kernel32.dll" && std::strcmp(name, "GetVolumePathNamesForVolumeNameW") == 0)
        return reinterpret_cast<void*>(&fake_volume_path_names);
    if (library == "shell32.dll" && std::strcmp(name, "IsUserAnAdmin") == 0)
        return reinterpret_cast<void*>(&fake_is_user_an_admin);
    return nullptr;
}
