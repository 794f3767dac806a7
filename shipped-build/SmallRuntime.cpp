// Linked into the shipped programs only: what the static C++ library would
// throw, ended here instead. The programs are built without exceptions, so a
// throw could only end the process by way of std::terminate; taking the
// library's own versions would link its exception machinery for nothing.
#include <cstdlib>
#include <new>

namespace std {
// All that one member of the library defines, so that it is never linked
// beside these; a helper of another member still would be, and the size
// check catches that.
void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_exception() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }
}  // namespace std

// No new-handler is ever installed, so running out of memory ends the
// process as an unhandled std::bad_alloc would.
void* operator new(std::size_t size) {
    void* const block = malloc(size ? size : 1);
    if (!block) abort();
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return malloc(size ? size : 1);
}
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, std::size_t) noexcept { free(block); }
void operator delete[](void* block, std::size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }
