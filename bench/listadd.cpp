// Times adding a route list with persistence on against the running kernel's table:
//   corvane_bench_listadd INTERFACE GATEWAY [ROUTES [RUNS]]
// Each run adds ROUTES /30 routes out of 10.200.0.0/16 (at most 16,384) through INTERFACE
// and GATEWAY, their persistent names included, then takes them out of the store and the
// kernel again. Prints "<median add ms> <longest progress gap ms> <routes added per run>".
// The gap is the longest time between two progress calls, the start and the end of the add
// included: how long a window painting in them would have stood still. Fails when a route
// or the store was refused, or the store does not hold the names afterwards.
#include "quiet.h"
#include "stats.h"

#include "platform/iphelper.h"
#include "platform/prompter.h"
#include "routing/persistentroutes.h"
#include "routing/routelist_add.h"
#include "session/machinestore.h"
#include "values/ip.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <net/if.h>
#include <string>
#include <vector>

namespace {

using namespace corvane;
using bench::CountingPrompter;
using bench::waitFor;

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: corvane_bench_listadd INTERFACE GATEWAY [ROUTES [RUNS]]\n");
        return 2;
    }
    const unsigned ifIndex = ::if_nametoindex(argv[1]);
    in_addr gateway{};
    const int routes = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 16384) : 10000;
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    if (ifIndex == 0 || ::inet_pton(AF_INET, argv[2], &gateway) != 1) {
        std::fprintf(stderr, "no interface %s or no address %s\n", argv[1], argv[2]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir store;
    if (!store.isValid())
        return 1;
    qputenv("CORVANE_CONFIG_DIR", store.filePath(QStringLiteral("store")).toLocal8Bit());
    resetMachineStore();
    CountingPrompter prompts;
    setPrompter(&prompts);
    if (iphlp().bind(false).base) {
        std::fprintf(stderr, "the platform library did not load\n");
        return 1;
    }

    ListAddRequest request;
    request.ifIndex = ifIndex;
    request.nextHop = ntohl(gateway.s_addr);
    request.nextHopText = QString::fromLatin1(argv[2]);
    request.persistent = true;
    for (int i = 0; i < routes; ++i)
        request.routes.push_back(
            {QString::fromStdString(ip(0x0AC80000U + 4U * static_cast<std::uint32_t>(i)).text()),
             "255.255.255.252"});

    std::vector<double> times;
    double longestGap = 0;
    QElapsedTimer clock;
    clock.start();
    int rc = 0;
    for (int run = 0; run < runs && rc == 0; ++run) {
        const auto now = [&clock] { return static_cast<double>(clock.nsecsElapsed()) / 1e6; };
        bench::GapWatch gaps;
        const double start = now();
        gaps.tick(start);
        const ListAddResult result = addRouteList(request, [&] { gaps.tick(now()); });
        const double end = now();
        gaps.tick(end);
        times.push_back(end - start);
        longestGap = std::max(longestGap, gaps.longestMs());

        const std::vector<std::string> names = ReadPersistentRouteNames();
        if (result.added != routes || result.failed != 0 ||
            names.size() != static_cast<std::size_t>(routes)) {
            std::fprintf(stderr, "run %d: %d added, %d failed, %zu names stored\n", run + 1,
                         result.added, result.failed, names.size());
            rc = 1;
        }
        // Untimed: the next run starts from the same table and an empty store.
        SetPersistent(names, false);
        if (std::system("ip route flush root 10.200.0.0/16") != 0) {
            std::fprintf(stderr, "the routes could not be removed\n");
            rc = 1;
        }
    }
    std::printf("%.1f %.1f %d\n", bench::median(times), longestGap, routes);
    if (prompts.asked) {
        std::fprintf(stderr, "%d messages were shown\n", prompts.asked);
        rc = 1;
    }
    setPrompter(nullptr);
    return rc;
}
