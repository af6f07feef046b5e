#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace platform::detail {

/// Texts packed into blocks. A handle of a text of up to seven bytes holds the text itself; a
/// longer text is stored once, with its length, and the handle locates it. The handle 0 is the
/// empty text. Blocks start small and double up to 1 MiB, so a list of a few rows holds a few
/// hundred bytes of text, not a megabyte; a text never moves once stored.
class TextStore
{
public:
    using Handle = uint64_t;

    Handle Add(std::string_view text);
    /// The text of `handle`, which must stay where it is while the view is used (a short text
    /// lives inside the handle).
    std::string_view View(const Handle &handle) const;
    static bool IsShort(Handle h) { return !(h >> 63); }
    void Clear();

private:
    static constexpr std::size_t FirstBlockSize = std::size_t(1) << 10;
    static constexpr std::size_t BlockSize = std::size_t(1) << 20;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::size_t m_size = 0; // of the last block
    std::size_t m_used = 0; // bytes used of the last block
};

} // namespace platform::detail
