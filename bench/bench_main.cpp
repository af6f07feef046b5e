// The main of the benchmarks that need nothing but the offscreen platform and the Qt application.

#include "tests/support/testsupport.h"

#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    platform::testing::InitForTests(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
