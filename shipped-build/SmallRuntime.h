// Included ahead of every shipped source file (see morvane_shipped in the
// top-level CMakeLists.txt), before any library header.
#pragma once

// The static C++ library holds ready-made std::string and std::wstring
// members, built with exceptions; taking them links the unwinder, and their
// unwind tables keep every member alive in the exe. Instantiated here
// instead, they are built like the rest of the program and the linker drops
// what nobody calls.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0

// The library switches printf and its kin to MinGW's own implementation,
// which brings its floating-point formatting along (over 20 KB). The
// programs format only integers and strings, which the system's C library
// formats alike.
#undef __USE_MINGW_ANSI_STDIO
#define __USE_MINGW_ANSI_STDIO 0
