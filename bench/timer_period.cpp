// Measures the panel timer's real period: a 30 ms precise QTimer, headless,
// for a number of seconds, optionally with the other core kept busy.
//   timer_period [seconds=10] [busy]
// Prints the mean period, the mean and 99th percentile of the deviation from
// 30 ms, and the drift of the last tick from its ideal time.
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const bool busy = argc > 2 && std::string(argv[2]) == "busy";

    std::atomic<bool> stop{false};
    std::thread spinner;
    if (busy)
        spinner = std::thread([&] {
            volatile unsigned long n = 0;
            while (!stop.load(std::memory_order_relaxed))
                n = n + 1;
        });

    using Clock = std::chrono::steady_clock;
    std::vector<double> periods;
    const auto start = Clock::now();
    auto last = start;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(30);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        periods.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
        if (now - start >= std::chrono::duration<double>(seconds))
            app.quit();
    });
    timer.start();
    app.exec();
    stop = true;
    if (spinner.joinable())
        spinner.join();

    std::vector<double> deviation;
    double sum = 0;
    for (double p : periods) {
        sum += p;
        deviation.push_back(std::fabs(p - 30.0));
    }
    std::sort(deviation.begin(), deviation.end());
    const double meanDev = std::accumulate(deviation.begin(), deviation.end(), 0.0) / deviation.size();
    const double p99 = deviation[static_cast<size_t>(0.99 * (deviation.size() - 1))];
    const double elapsed = std::chrono::duration<double, std::milli>(last - start).count();
    std::printf("ticks %zu%s: mean period %.3f ms, mean |deviation| %.3f ms, p99 |deviation| %.3f ms, "
                "drift after last tick %.1f ms\n",
                periods.size(), busy ? " (other core busy)" : "", sum / periods.size(), meanDev, p99,
                elapsed - 30.0 * periods.size());
    return 0;
}
