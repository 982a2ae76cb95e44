// Reads a recorded list back into a plain vector, for comparisons.
#pragma once

#include <vector>

#include "sample_list.h"

// Every value of a recorded list, in order.
inline std::vector<int16_t> valuesOf(const SampleList& list) {
    std::vector<int16_t> values;
    SampleList::Cursor cursor(list);
    size_t count = 0;
    while (const int16_t* run = cursor.run(list.size(), count)) {
        if (count == 0) break;
        values.insert(values.end(), run, run + count);
    }
    return values;
}

