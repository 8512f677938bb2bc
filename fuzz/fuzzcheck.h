// SPDX-License-Identifier: MIT
#pragma once
// What every fuzz target asserts with: a broken rule aborts, so that libFuzzer keeps the input and the
// replay test fails on it.

#include <cstdlib>

namespace quillbox::fuzz {

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace quillbox::fuzz
