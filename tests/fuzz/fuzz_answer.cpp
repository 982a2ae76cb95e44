// Fuzzes reading the operator's answers: any bytes, read as the two answers
// of a run. The result must agree with a plain reading of the same rule, and
// nothing past what the rule takes may be consumed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "device_context.h"

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The rule, spelled out over a string: returns where reading stopped.
size_t referenceRead(const std::string& text, size_t at, bool& ok, uint32_t& value) {
    while (at < text.size() && isSpace(text[at])) ++at;
    ok = false;
    if (at == text.size()) return at;
    bool negative = false;
    if (text[at] == '+' || text[at] == '-') negative = text[at++] == '-';
    unsigned __int128 number = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (number <= 0xFFFFFFFFu) number = number * 10 + static_cast<unsigned>(text[at] - '0');
        ++at;
        ++digits;
    }
    if (digits > 0 && number <= 0xFFFFFFFFu) {
        ok = true;
        value = negative ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
    }
    return at;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::istringstream in(text);
    size_t at = 0;
    for (int answer = 0; answer < 2; ++answer) {
        uint32_t value = 12345;
        uint32_t expected = 12345;
        bool expectedOk = false;
        const bool ok = readAnswer(in, value);
        at = referenceRead(text, at, expectedOk, expected);
        if (ok != expectedOk || value != expected) std::abort();
        in.clear();
        const auto position = in.tellg();
        if (position >= 0 && static_cast<size_t>(position) != at) std::abort();
        if (position < 0) break;
    }
    return 0;
}
