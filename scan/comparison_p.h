#pragma once

/// Marks a scan as running, from the start of its walk until it has ended, however it ends.
/// While any scan runs, the comparison remembers the files it has warned about (by path and fresh
/// digest), so that scans side by side raise one warning for a file that several of them
/// digested; once the last running scan has ended, that is forgotten and the next scan warns
/// afresh.
class RunningScan
{
public:
    RunningScan();
    ~RunningScan();
    RunningScan(const RunningScan &) = delete;
    RunningScan &operator=(const RunningScan &) = delete;
};
