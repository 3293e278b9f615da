// The soak as a tool, for a shift's worth of exchanges or more:
//   kvx340-soak [exchanges=100000] [seed=340]
// Runs the cycle through the simulator library bound by file, then on the
// in-process bus with a hand-driven clock; prints the figures and exits 1
// on any violation, a failed exchange, or resident memory that grew by more
// than 1 MiB after the warm-up.
#include "soak_run.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr long AllowedGrowthKiB = 1024;

bool sound(const kvx::soak::SoakReport& report, uint64_t exchanges)
{
    return report.exchanges == exchanges && report.checker.violations() == 0 &&
           report.residentEndKiB - report.residentStartKiB <= AllowedGrowthKiB;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    kvx::soak::SoakOptions options;
    if (argc > 1)
        options.exchanges = std::strtoull(argv[1], nullptr, 10);
    if (argc > 2)
        options.seed = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    // The library reads its fault script from here: the soak wants none.
    qunsetenv("KVX340_SIM_FAULTS");

    const auto link = kvx::soak::runLinkSoak(QStringLiteral(SIM_LIBRARY_PATH), options);
    std::printf("%s\n", qPrintable(kvx::soak::describe(link, "link")));
    const auto model = kvx::soak::runModelSoak(options);
    std::printf("%s\n", qPrintable(kvx::soak::describe(model, "model")));
    return sound(link, options.exchanges) && sound(model, options.exchanges) ? 0 : 1;
}
