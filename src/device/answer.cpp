// Reading the operator's answers, straight off the input stream: the rules
// for signs, overflow and what stays unread are ours, not the library's
// extraction operator's.
#include "device_context.h"

bool readAnswer(std::istream& in, uint32_t& value) {
    using Traits = std::istream::traits_type;
    const std::istream::sentry skipWhiteSpace(in);  // also shows a pending prompt
    if (!skipWhiteSpace) return false;

    std::streambuf* buffer = in.rdbuf();
    Traits::int_type c = buffer->sgetc();
    bool negative = false;
    if (c == Traits::to_int_type('+') || c == Traits::to_int_type('-')) {
        negative = c == Traits::to_int_type('-');
        c = buffer->snextc();
    }
    uint64_t number = 0;
    bool anyDigit = false;
    bool overflow = false;
    while (!Traits::eq_int_type(c, Traits::eof()) && c >= '0' && c <= '9') {
        anyDigit = true;
        if (!overflow) {
            number = number * 10 + static_cast<uint64_t>(c - '0');
            overflow = number > 0xFFFFFFFFu;
        }
        c = buffer->snextc();
    }
    if (Traits::eq_int_type(c, Traits::eof())) in.setstate(std::ios::eofbit);
    if (!anyDigit || overflow) return false;

    const auto magnitude = static_cast<uint32_t>(number);
    value = negative ? 0u - magnitude : magnitude;
    return true;
}
