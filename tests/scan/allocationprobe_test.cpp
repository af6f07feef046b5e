// The test program's own operator new: plain malloc, watched by LargeAllocationProbe.

#include "scantest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

// These are the replacements of the global operators: GCC sees free() after a new it inlined.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Per OS thread, so allocations of Qt's helper threads neither count nor fail.
thread_local std::size_t t_minSize = 0; // 0: no probe
thread_local bool t_failNext = false;
thread_local bool t_failed = false;
thread_local int t_count = 0;

} // namespace

void *operator new(std::size_t size)
{
    if (t_minSize != 0 && size >= t_minSize) {
        ++t_count;
        if (t_failNext) {
            t_failNext = false;
            t_failed = true;
            throw std::bad_alloc();
        }
    }
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void *operator new[](std::size_t size) { return ::operator new(size); }
// The nothrow forms too: the library's own would allocate apart from the delete below (a
// sanitizer reports the mismatch; std::stable_sort takes its buffer this way).
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept
{
    return ::operator new(size, tag);
}
void operator delete(void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { std::free(p); }
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }

namespace scantest {

LargeAllocationProbe::LargeAllocationProbe(std::size_t minSize, bool failFirst)
{
    t_count = 0;
    t_failed = false;
    t_failNext = failFirst;
    t_minSize = minSize;
}

LargeAllocationProbe::~LargeAllocationProbe()
{
    t_minSize = 0;
    t_failNext = false;
}

int LargeAllocationProbe::Count() const { return t_count; }

bool LargeAllocationProbe::Failed() const { return t_failed; }

} // namespace scantest

TEST(LargeAllocationProbe, FailFirst_FailsOneLargeAllocationAndCountsEvery)
{
    scantest::LargeAllocationProbe probe(1000, /*failFirst=*/true);
    std::string small(100, 's');
    EXPECT_THROW(std::string(2000, 'x'), std::bad_alloc);
    std::string large(2000, 'y');
    EXPECT_TRUE(probe.Failed());
    EXPECT_EQ(probe.Count(), 2);
    EXPECT_EQ(large.size(), 2000u);
}
