#pragma once

#include "scan/loadthread.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/exceptions.h"

namespace scantest {

/// A scan thread whose operations the tests call directly; it is never run.
class ScanThread : public Loadthread
{
public:
    using Loadthread::AddData;
    using Loadthread::CalculateResourceFork;
    using Loadthread::ProcessPrivateFileOK;
    using Loadthread::ProcessPrivateFolderOK;
    using Loadthread::SHA;

    int32_t Count() const { return t; }
    void SetCount(int32_t count) { t = count; }
    const std::string &Resource() const { return sResource; }
    void SetResource(const std::string &data) { sResource = data; }

protected:
    void Event_Run() override { }
};

/// Every report the catch-all handlers make while it lives.
class Reports
{
public:
    struct Entry
    {
        std::string kind;
        std::string tag;
    };
    Reports()
    {
        platform::SetExceptionReporter(
            [this](const platform::RuntimeException &e, const std::string &tag) {
                m_entries.push_back({ e.ClassName(), tag });
            });
    }
    ~Reports() { platform::SetExceptionReporter(nullptr); }
    Reports(const Reports &) = delete;
    Reports &operator=(const Reports &) = delete;
    const std::vector<Entry> &Entries() const { return m_entries; }

private:
    std::vector<Entry> m_entries;
};

/// Watches the allocations of at least `minSize` bytes made on this OS thread while it lives:
/// counts them and, with `failFirst`, makes the first one throw std::bad_alloc. Names longer than
/// any text of the code under test make each fetch of a name visible this way.
class LargeAllocationProbe
{
public:
    LargeAllocationProbe(std::size_t minSize, bool failFirst);
    ~LargeAllocationProbe();
    LargeAllocationProbe(const LargeAllocationProbe &) = delete;
    LargeAllocationProbe &operator=(const LargeAllocationProbe &) = delete;
    /// Allocations of at least minSize seen so far, the failed one included.
    int Count() const;
    /// True when the allocation meant to fail has been made.
    bool Failed() const;
};

} // namespace scantest
