#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace platform::detail {

/// A growable array in fixed chunks: past the first chunk, appending never moves what is stored,
/// so growth costs no copies and no transient doubling of memory. The first chunk starts small and
/// doubles until it is full size, so a short array (a list of a few rows) costs a few bytes, not a
/// whole chunk. New elements are zero.
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
        if (n > m_capacity && m_capacity < ChunkSize) {
            std::size_t first
                = std::max<std::size_t>(m_capacity * 2, std::min<std::size_t>(16, ChunkSize));
            while (first < n && first < ChunkSize)
                first *= 2;
            first = std::min(first, ChunkSize);
            auto chunk = std::make_unique<T[]>(first);
            if (!m_chunks.empty())
                std::copy_n(m_chunks[0].get(), m_capacity, chunk.get());
            else
                m_chunks.emplace_back();
            m_chunks[0] = std::move(chunk);
            m_capacity = first;
        }
        while (m_capacity < n) {
            m_chunks.push_back(std::make_unique<T[]>(ChunkSize));
            m_capacity += ChunkSize;
        }
        if (n > m_size)
            m_size = n;
    }
    void Clear()
    {
        m_chunks.clear();
        m_size = 0;
        m_capacity = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0; // elements allocated: the first chunk's, then ChunkSize a chunk
};

} // namespace platform::detail
