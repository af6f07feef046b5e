#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace platform::detail {

/// A growable array in fixed chunks: appending never moves what is stored, so growth costs no
/// copies and no transient doubling of memory. New elements are zero.
template<class T, unsigned Shift> class ChunkedArray
{
public:
    static constexpr std::size_t ChunkSize = std::size_t(1) << Shift;

    std::size_t Size() const { return m_size; }
    T &operator[](std::size_t i) { return m_chunks[i >> Shift][i & (ChunkSize - 1)]; }
    const T &operator[](std::size_t i) const { return m_chunks[i >> Shift][i & (ChunkSize - 1)]; }
    /// Grows to `n` elements (never shrinks).
    void Grow(std::size_t n)
    {
        while (m_chunks.size() * ChunkSize < n)
            m_chunks.push_back(std::make_unique<T[]>(ChunkSize));
        if (n > m_size)
            m_size = n;
    }
    void Clear()
    {
        m_chunks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::size_t m_size = 0;
};

} // namespace platform::detail
