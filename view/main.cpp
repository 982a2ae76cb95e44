// asioloop-view: turns asioloop's sample report into a self-contained HTML
// page and a JSON summary of each input's latency. Everything lives in the
// library; this is its entry.
#include <string>
#include <vector>

#include "view.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    return runView(arguments);
}
