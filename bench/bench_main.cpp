// The main of every benchmark program: runs the benchmarks as the library's
// own main does, but exits 1 when any of them stopped with an error (missing
// data, a refused set-up), so `make bench` fails instead of passing silently.

#include <benchmark/benchmark.h>

#include <cstdio>

namespace
{
class failure_noting_reporter : public benchmark::ConsoleReporter
{
public:
    bool failed = false;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
        {
            if (run.error_occurred)
            {
                failed = true;
                fprintf(stderr, "benchmark %s failed: %s\n", run.benchmark_name().c_str(), run.error_message.c_str());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};
} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    failure_noting_reporter reporter;
    const size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failed || ran == 0 ? 1 : 0;
}
