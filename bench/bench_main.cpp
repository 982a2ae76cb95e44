// The benchmark program's entry: gives the program's files a private folder
// (unless ASIOLOOP_TEMP_DIR names one) and removes it afterwards.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

int main(int argc, char** argv) {
    std::string ownFolder;
    const char* given = std::getenv("ASIOLOOP_TEMP_DIR");
    if (given == nullptr || *given == '\0') {
        std::string pattern = (std::filesystem::temp_directory_path() / "asioloop-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return 1;
        ownFolder = pattern;
        setenv("ASIOLOOP_TEMP_DIR", ownFolder.c_str(), 1);
    }

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    if (!ownFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(ownFolder, ignored);
    }
    return 0;
}
