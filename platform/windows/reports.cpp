// What the failure reports ask of the system: message texts, the memory they
// live in, the message box and the immediate process exit.
#include <windows.h>

#include "platform/platform.h"

static_assert(MESSAGE_FROM_SYSTEM == (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER));
static_assert(MESSAGE_FROM_SYSTEM_IGNORE_INSERTS ==
              (FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
               FORMAT_MESSAGE_IGNORE_INSERTS));

namespace {
// The user's default language: neutral language, default sub-language.
const DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
static_assert(kUserDefaultLanguage == 0x400);
}  // namespace

uint32_t platform_format_message(uint32_t flags, uint32_t code, wchar** text) {
    *text = nullptr;
    // With the allocate-buffer flag the system stores the address of the
    // buffer it allocated where the text would go.
    DWORD units = FormatMessageW(flags, nullptr, code, kUserDefaultLanguage,
                                 reinterpret_cast<wchar_t*>(text), 0, nullptr);
    if (!units && *text) {
        LocalFree(*text);
        *text = nullptr;
    }
    return units;
}

void* platform_local_alloc_zeroed(size_t bytes) { return LocalAlloc(LMEM_ZEROINIT, bytes); }
size_t platform_local_size(void* block) { return LocalSize(block); }
void platform_local_free(void* block) { LocalFree(block); }

void platform_message_box(const wchar* text, const wchar* caption) {
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text),
                reinterpret_cast<const wchar_t*>(caption), MB_OK);
}

void platform_exit_process(uint32_t code) { ExitProcess(code); }
