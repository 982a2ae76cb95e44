// Builds sample reports for the viewer's tests in the layout the program
// writes: the header of peaks (first position of the largest magnitude), the
// column line, then one row per sample, every line ending in CR LF.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using Column = std::vector<int>;

inline std::string reportText(const std::vector<Column>& columns) {
    std::string text;
    for (const Column& column : columns) {
        int peak = 0;
        int position = -1;
        for (size_t j = 0; j < column.size(); ++j) {
            if (std::abs(column[j]) > peak) {
                peak = std::abs(column[j]);
                position = static_cast<int>(j);
            }
        }
        text += "Max Abs " + std::to_string(peak) + "(sample " + std::to_string(position) + ")\t";
    }
    text += "\r\nPosition\tvalues\r\n";
    const size_t rows = columns.empty() ? 0 : columns[0].size();
    for (size_t j = 0; j < rows; ++j) {
        text += std::to_string(j) + "\t";
        for (const Column& column : columns) text += std::to_string(column[j]) + "\t";
        text += "\r\n";
    }
    return text;
}

// A quiet background: a small fixed pattern of the given amplitude.
inline Column noise(size_t length, int amplitude) {
    static const int pattern[] = {1, -2, 3, -1, 2, -3, 1, 0};
    Column column(length);
    for (size_t j = 0; j < length; ++j) column[j] = pattern[j % 8] * amplitude / 3;
    return column;
}

inline Column with(Column column, size_t at, std::vector<int> values) {
    for (size_t k = 0; k < values.size(); ++k) column[at + k] = values[k];
    return column;
}
