// The viewer as its users meet it: the default paths, the outputs and their
// JSON, and bad input, which gets one line on standard error, its own exit
// status, and leaves nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "report_text.h"
#include "test_support.h"
#include "view.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run(const std::vector<std::string>& arguments) {
    std::ostringstream err;
    std::streambuf* previous = std::cerr.rdbuf(err.rdbuf());
    Outcome outcome{};
    {
        CapturedConsole console;
        outcome.status = runView(arguments);
        outcome.out = console.text();
    }
    std::cerr.rdbuf(previous);
    outcome.err = err.str();
    return outcome;
}

std::set<std::string> namesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

const std::string kGood = reportText({with(noise(300, 30), 120, {30000}), with(noise(300, 30), 200, {-20000})});

TEST(ViewCommand, WritesPageAndSummaryBesideTheProgramsReport) {
    TempFolder folder;
    writeFile(folder.file("ASIO PCM.txt"), kGood);
    const Outcome outcome = run({"--rate", "44100"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(namesIn(folder.path()), (std::set<std::string>{"ASIO PCM.txt", "ASIO PCM.html", "ASIO PCM.json"}));

    const nlohmann::json json = nlohmann::json::parse(readFileBytes(folder.file("ASIO PCM.json")));
    EXPECT_EQ(json["version"], 1);
    EXPECT_EQ(json["report"], folder.file("ASIO PCM.txt").string());
    EXPECT_EQ(json["rate"], 44100);
    EXPECT_EQ(json["rows"], 300);
    ASSERT_EQ(json["channels"].size(), 2u);
    const nlohmann::json& second = json["channels"][1];
    EXPECT_EQ(second["input"], 1);
    EXPECT_EQ(second["peak"], 20000);
    EXPECT_EQ(second["position"], 200);
    EXPECT_EQ(second["polarity"], -1);
    EXPECT_EQ(second["latencySamples"], 200);
    EXPECT_DOUBLE_EQ(second["latencyMs"].get<double>(), 200 * 1000.0 / 44100);
    EXPECT_EQ(second["onset"], 200);
    EXPECT_TRUE(second["subsample"].is_number());
    EXPECT_TRUE(second["noiseRms"].is_number());
    EXPECT_TRUE(second["peakToNoiseDb"].is_number());
    EXPECT_EQ(second["verdict"], "inverted");

    // The page carries its own library and reaches nothing outside itself.
    const std::string page = readFileBytes(folder.file("ASIO PCM.html"));
    EXPECT_NE(page.find("Permission is hereby granted"), std::string::npos);
    EXPECT_NE(page.find("time: false"), std::string::npos);
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
}

TEST(ViewCommand, SilentChannelHasNullFigures) {
    TempFolder folder;
    writeFile(folder.file("r.txt"), reportText({Column(20, 0)}));
    ASSERT_EQ(run({folder.file("r.txt").string(), "--out", folder.file("page.htm").string()}).status, 0);
    const nlohmann::json channel = nlohmann::json::parse(readFileBytes(folder.file("page.json")))["channels"][0];
    EXPECT_EQ(channel["position"], -1);
    EXPECT_EQ(channel["polarity"], 0);
    for (const char* field : {"latencySamples", "latencyMs", "onset", "subsample", "peakToNoiseDb"})
        EXPECT_TRUE(channel[field].is_null()) << field;
    EXPECT_EQ(channel["verdict"], "silent");
}

TEST(ViewCommand, ReportPathCannotBreakOutOfThePage) {
    TempFolder folder;
    fs::create_directory(folder.file("<"));
    const fs::path report = folder.file("</script><b>x.txt");
    writeFile(report, kGood);
    ASSERT_EQ(run({report.string(), "--out", folder.file("page.html").string()}).status, 0);
    const std::string page = readFileBytes(folder.file("page.html"));
    EXPECT_EQ(page.find("</script><b>"), std::string::npos);
}

TEST(ViewCommand, LinksAtTheOutputNamesAreReplacedNotFollowed) {
    TempFolder folder;
    writeFile(folder.file("ASIO PCM.txt"), kGood);
    writeFile(folder.file("elsewhere.html"), "keep");
    writeFile(folder.file("elsewhere.json"), "keep");
    ASSERT_EQ(symlink("elsewhere.html", folder.file("ASIO PCM.html").c_str()), 0);
    ASSERT_EQ(symlink("elsewhere.json", folder.file("ASIO PCM.json").c_str()), 0);
    ASSERT_EQ(run({}).status, 0);
    EXPECT_EQ(readFileBytes(folder.file("elsewhere.html")), "keep");
    EXPECT_EQ(readFileBytes(folder.file("elsewhere.json")), "keep");
    for (const char* name : {"ASIO PCM.html", "ASIO PCM.json"}) {
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder.file(name)))) << name;
        EXPECT_GT(fs::file_size(folder.file(name)), 100u) << name;
    }
}

struct BadCase {
    const char* name;
    std::string report;               // written as ASIO PCM.txt unless null
    bool writeReport;
    std::vector<std::string> arguments;
    int status;
    const char* message;              // a part of the one line on standard error
};

class BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInput, GetsOneLineAndWritesNothing) {
    const BadCase& c = GetParam();
    TempFolder folder;
    if (c.writeReport) writeFile(folder.file("ASIO PCM.txt"), c.report);
    const std::set<std::string> before = namesIn(folder.path());
    std::vector<std::string> arguments = c.arguments;
    for (std::string& argument : arguments)
        if (argument == "OUT") argument = folder.file("missing/page.html").string();

    const Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_EQ(outcome.out, "");
    ASSERT_FALSE(outcome.err.empty());
    EXPECT_EQ(outcome.err.find('\n'), outcome.err.size() - 1) << outcome.err;
    EXPECT_EQ(outcome.err.rfind("asioloop-view: ", 0), 0u) << outcome.err;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    EXPECT_EQ(namesIn(folder.path()), before);
}

void PrintTo(const BadCase& c, std::ostream* out) {
    *out << c.name;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

const std::string kSmall = reportText({with(noise(20, 30), 5, {1000}), with(noise(20, 30), 7, {-900})});

INSTANTIATE_TEST_SUITE_P(
    View, BadInput,
    ::testing::Values(
        BadCase{"missingReport", "", false, {}, 1, "cannot open"},
        BadCase{"truncatedRow", kSmall.substr(0, kSmall.size() - 5), true, {}, 1, "line 22"},
        BadCase{"truncatedAfterHeader", kSmall.substr(0, kSmall.find("Position")), true, {}, 1, "ends after its header"},
        BadCase{"unixLineEnds", replaced(kSmall, "\r\n1\t", "\n1\t"), true, {}, 1, "line 3"},
        BadCase{"headerHasAColumnTooMany", replaced(kSmall, "\r\n", "Max Abs 0(sample -1)\t\r\n"), true, {}, 1,
                "2 values for 3 columns"},
        BadCase{"rowsHaveAColumnTooMany", replaced(kSmall, "\r\n3\t", "\t4\t\r\n3\t"), true, {}, 1, "line 5"},
        BadCase{"headerPeakIsNotTheRows", replaced(kSmall, "Max Abs 1000", "Max Abs 1001"), true, {}, 1,
                "input 0: the header gives peak 1001"},
        BadCase{"headerPositionIsNotTheFirst", replaced(kSmall, "(sample 7)", "(sample 8)"), true, {}, 1, "input 1"},
        BadCase{"peakWithoutPosition", replaced(kSmall, "(sample 7)", "(sample -1)"), true, {}, 1, "header"},
        BadCase{"notANumber", replaced(kSmall, "\r\n4\t", "\r\n4\tx"), true, {}, 1, "line 7"},
        BadCase{"outOfRange", replaced(kSmall, "\r\n4\t", "\r\n4\t40000"), true, {}, 1, "line 7"},
        BadCase{"rowsOutOfOrder", replaced(kSmall, "\r\n4\t", "\r\n5\t"), true, {}, 1, "numbered 5"},
        BadCase{"notAReport", "hello\r\n", true, {}, 1, "header"},
        BadCase{"noInputColumns", "", true, {}, 3, "no input columns"},
        BadCase{"unknownOption", kSmall, true, {"--colour"}, 2, "unknown option --colour"},
        BadCase{"zeroRate", kSmall, true, {"--rate", "0"}, 2, "--rate"},
        BadCase{"rateNotANumber", kSmall, true, {"--rate=48k"}, 2, "48k"},
        BadCase{"windowMissingValue", kSmall, true, {"--window"}, 2, "needs a value"},
        BadCase{"negativeWindow", kSmall, true, {"--window", "-3"}, 2, "--window"},
        BadCase{"twoReports", kSmall, true, {"a.txt", "b.txt"}, 2, "more than one report"},
        BadCase{"pageNamedLikeItsSummary", kSmall, true, {"--out", "page.json"}, 2, "summary"},
        BadCase{"outputFolderMissing", kSmall, true, {"--out", "OUT"}, 4, "missing/page.html"}),
    [](const ::testing::TestParamInfo<BadCase>& test) { return std::string(test.param.name); });

TEST(ViewCommand, HelpStatesEveryDefault) {
    TempFolder folder;
    const Outcome outcome = run({"--help"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.out.find("[" + folder.file("ASIO PCM.txt").string() + "]"), std::string::npos);
    EXPECT_NE(outcome.out.find("[48000]"), std::string::npos);
    EXPECT_NE(outcome.out.find("[1024]"), std::string::npos);
    EXPECT_NE(outcome.out.find("[the report's name with .html]"), std::string::npos);
    EXPECT_EQ(namesIn(folder.path()), std::set<std::string>{});
}

}  // namespace
