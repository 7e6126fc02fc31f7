// fuzz_input.h - what the control fuzz targets share: the fuzzer's bytes read one at a time,
// and a choice from a fixed list by one of them. Header only; fuzz targets alone include it.
#pragma once

#include <cstddef>
#include <cstdint>

// Takes one byte of the input; 0 when it is used up.
struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t next()
    {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
};

template <class T, size_t N>
const T& pick(const T (&list)[N], uint8_t byte)
{
    return list[byte % N];
}
