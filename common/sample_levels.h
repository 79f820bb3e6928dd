// How the stored bytes of the sample streams stand for the transform's input
// values. Classic and 2-bit units store each value itself (+1, -1, or 0 for
// silence); deeper units store a small signed code that indexes a table of
// levels, so that one byte per sample and stream still suffices.
#pragma once

namespace okrelt {

constexpr int LEVEL_TABLE_SIZE = 8;                      // a code v stands for levels[v & LEVEL_INDEX_MASK]
constexpr int LEVEL_INDEX_MASK = LEVEL_TABLE_SIZE - 1;   // so negative codes index the table's top end

}  // namespace okrelt
