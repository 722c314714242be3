// Times the settings store on big files:
//   corvane_bench_store [SECTIONS [VALUE_MB [READS]]]   (defaults 10000 100 25)
// A file of SECTIONS empty sections and one of a single VALUE_MB megabyte string value are
// each timed three ways: one parse of the text, the first read of a fresh Store (read, parse,
// look up), and READS further reads, as many as one `corvane --report` makes; each the
// median of five runs. The files are dated an hour back, so that the store may keep what it
// parsed. Prints one line per figure:
//   <what> <milliseconds>
#include "registry/store.h"
#include "stats.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using namespace corvane::reg;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void writeAged(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    const timespec times[2] = {{std::time(nullptr) - 3600, 0}, {std::time(nullptr) - 3600, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// The median of five runs of work, in milliseconds.
double medianMs(const std::function<void()>& work) {
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        work();
        runs.push_back(msSince(start));
    }
    return corvane::bench::median(runs);
}

void measure(const char* what, const fs::path& file, const std::string& text,
             const std::string& key, int reads) {
    writeAged(file, text);
    bool parsed = true;
    std::printf("%s-parse %.1f\n", what, medianMs([&] { parsed = parse(text) && parsed; }));
    if (!parsed)
        std::fprintf(stderr, "%s: the text does not parse\n", what);

    bool found = true;
    std::printf("%s-first-read %.1f\n", what, medianMs([&] {
                    Store store(file);
                    const auto k = store.open(key, false);
                    found = k && k->valueExists("v") && found;
                }));
    Store store(file);
    const auto k = store.open(key, false);
    std::printf("%s-%d-reads %.1f\n", what, reads, medianMs([&] {
                    for (int i = 0; i < reads && k; ++i)
                        found = k->valueExists("v") && found;
                }));
    if (!found)
        std::fprintf(stderr, "%s: the value was not found\n", what);
}

} // namespace

int main(int argc, char* argv[]) {
    const int sections = argc > 1 ? std::atoi(argv[1]) : 10000;
    const long valueMb = argc > 2 ? std::atol(argv[2]) : 100;
    const int reads = argc > 3 ? std::atoi(argv[3]) : 25;
    char folder[] = "/tmp/corvane-bench-store-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path file = fs::path(folder) / "machine.reg";

    std::string text = "; sections\n";
    for (int i = 0; i < sections; ++i)
        text += "\n[Software\\Bench\\Key " + std::to_string(i) + "]\n";
    text += "\"v\" = int:1\n"; // in the last section: a lookup walks past all others
    measure("sections", file, text, "Software\\Bench\\Key " + std::to_string(sections - 1), reads);

    text = "[Software\\Bench]\n\"v\" = str:\"";
    text.append(static_cast<std::size_t>(valueMb) << 20, 'x');
    text += "\"\n";
    measure("value", file, text, "Software\\Bench", reads);

    std::error_code ec;
    fs::remove_all(folder, ec);
    return 0;
}
