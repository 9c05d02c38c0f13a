// The allocation the NTFS reader and the volume stand-in make with
// new (std::nothrow). The C++ runtime's own version catches the exception
// of the throwing one, which links the whole exception machinery (unwinder,
// threads, formatted printing) into morla.exe and makes it four times as
// large; Morla throws nothing, so a null from the heap is the whole answer.
// The runtime's operator delete frees with free(), as this allocates with
// malloc(). Linked into morla.exe only: the test executables use exceptions.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
