// Times SendARP in the benchmark world:  corvane_bench_arp REPS ADDRESS...
// Prints one line "<address> <median ms> <result code>" per address, each the median of REPS
// calls. With REPS 1 it times a single call, as for a neighbour that never answers, whose
// first question waits for the kernel to give up.
#include "stats.h"

#include "iphlpapi.h"

#include <arpa/inet.h>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPS ADDRESS...\n", argv[0]);
        return 2;
    }
    const int reps = std::atoi(argv[1]);
    if (reps < 1)
        return 2;
    for (int a = 2; a < argc; ++a) {
        in_addr address{};
        if (::inet_pton(AF_INET, argv[a], &address) != 1) {
            std::fprintf(stderr, "not an address: %s\n", argv[a]);
            return 2;
        }
        std::vector<double> ms;
        DWORD code = 0;
        for (int r = 0; r < reps; ++r) {
            std::array<unsigned char, 8> mac{};
            ULONG length = 6;
            const auto t0 = std::chrono::steady_clock::now();
            code = SendARP(address.s_addr, 0, mac.data(), &length);
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                    .count());
        }
        std::printf("%s %.2f %lu\n", argv[a], corvane::bench::median(ms),
                    static_cast<unsigned long>(code));
    }
    return 0;
}
