// Reading an operator's answer: what is taken, what fails, and what stays
// unread for the next answer.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "device_context.h"

namespace {

struct AnswerCase {
    const char* why;
    const char* input;
    bool ok;
    uint32_t value;    // the target after the read; starts as kNoDevice
    const char* rest;  // what the next read would see
};

const AnswerCase kCases[] = {
    {"a plain number", "1\n", true, 1, "\n"},
    {"leading blanks and blank lines are skipped", "  \n\n\t 2\n", true, 2, "\n"},
    {"letters after the digits stay for the next answer", "2abc\n", true, 2, "abc\n"},
    {"both answers on one line", "1 5\n", true, 1, " 5\n"},
    {"a plus sign", "+7", true, 7, ""},
    {"minus one negates to the no-device value", "-1\n", true, 0xFFFFFFFFu, "\n"},
    {"minus wraps in 32 bits", "-4294967295", true, 1, ""},
    {"the largest value", "4294967295\n", true, 4294967295u, "\n"},
    {"leading zeros", "000000000000000000003\n", true, 3, "\n"},
    {"one above the largest value fails", "4294967296\n", false, kNoDevice, "\n"},
    {"a long overflow is read to its end", "99999999999999999999x", false, kNoDevice, "x"},
    {"letters only", "abc\n", false, kNoDevice, "abc\n"},
    {"a sign without digits", "-x", false, kNoDevice, "x"},
    {"a decimal point stops the number", "3.5\n", true, 3, ".5\n"},
    {"hexadecimal reads its leading zero only", "0x10", true, 0, "x10"},
    {"just below the largest value", "4294967294", true, 4294967294u, ""},
    {"a sign twice: the second stays", "+-1", false, kNoDevice, "-1"},
    {"a blank between sign and digits", "- 1", false, kNoDevice, " 1"},
    {"Arabic-Indic digit three is no digit", "\xD9\xA3\n", false, kNoDevice, "\xD9\xA3\n"},
    {"fullwidth digit three is no digit", "\xEF\xBC\x93", false, kNoDevice, "\xEF\xBC\x93"},
    {"a digit after carriage returns and form feeds", "\r\n\f\v5\r\n", true, 5, "\r\n"},
    {"input that ends", "", false, kNoDevice, ""},
    {"input that ends after blank lines", "\n\n  ", false, kNoDevice, ""},
};

void PrintTo(const AnswerCase& c, std::ostream* out) {
    *out << c.why;
}

class ReadAnswer : public testing::TestWithParam<AnswerCase> {};

TEST_P(ReadAnswer, TakesWhatTheRuleTakes) {
    const AnswerCase& c = GetParam();
    std::istringstream in(c.input);
    uint32_t value = kNoDevice;
    EXPECT_EQ(readAnswer(in, value), c.ok);
    EXPECT_EQ(value, c.value);
    in.clear();
    const std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(rest, c.rest);
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadAnswer, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<AnswerCase>& param) {
                             return "case" + std::to_string(param.index);
                         });

TEST(ReadAnswerHostile, AMillionDigits) {
    struct Case {
        const char* why;
        std::string text;
        bool ok;
        uint32_t value;
    };
    const Case cases[] = {
        {"a million nines overflow, and are read to their end", std::string(1000000, '9') + "x", false, kNoDevice},
        {"a million zeros and a one are one", std::string(1000000, '0') + "1x", true, 1},
        {"a million blanks before the number", std::string(1000000, ' ') + "42x", true, 42},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        std::istringstream in(c.text);
        uint32_t value = kNoDevice;
        EXPECT_EQ(readAnswer(in, value), c.ok);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(in.get(), 'x');
    }
}

TEST(ReadAnswerSequence, TheSecondAnswerStartsWhereTheFirstStopped) {
    std::istringstream in("1 5\n");
    uint32_t device = kNoDevice;
    uint32_t seconds = 0;
    ASSERT_TRUE(readAnswer(in, device));
    ASSERT_TRUE(readAnswer(in, seconds));
    EXPECT_EQ(device, 1u);
    EXPECT_EQ(seconds, 5u);
}

TEST(ReadAnswerSequence, AnAnswerEndingTheInputLeavesNothingForTheNext) {
    std::istringstream in("2");
    uint32_t device = kNoDevice;
    uint32_t seconds = 0;
    ASSERT_TRUE(readAnswer(in, device));
    EXPECT_FALSE(readAnswer(in, seconds));
    EXPECT_EQ(seconds, 0u);
}

}  // namespace
