// How the stored bytes of the sample streams stand for the transform's input
// values. Classic and 2-bit units store each value itself (+1, -1, or 0 for
// silence); deeper units store a small signed code that indexes a table of
// levels, so that one byte per sample and stream still suffices.
#pragma once

#include <cstdint>

namespace okrelt {

constexpr int LEVEL_TABLE_SIZE = 8;                      // a code v stands for levels[v & LEVEL_INDEX_MASK]
constexpr int LEVEL_INDEX_MASK = LEVEL_TABLE_SIZE - 1;   // so negative codes index the table's top end

// The transform's input value of a stored byte: the byte itself where levels
// is null, else the level its code stands for.
inline double stored_value(int8_t stored, const double* levels) {
    return levels == nullptr ? stored : levels[stored & LEVEL_INDEX_MASK];
}

}  // namespace okrelt
