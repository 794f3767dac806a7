// The sizes of the system records whose size field the program fills in.
// They differ between the shipped 32-bit build and the 64-bit test build;
// each use checks its record against both at compile time, so a header that
// disagrees with the system is caught in either build.
#pragma once

#include <cstddef>

constexpr size_t RecordSize(size_t size32, size_t size64) {
    return sizeof(void*) == 4 ? size32 : size64;
}
