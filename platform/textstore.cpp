#include "platform/textstore_p.h"

#include <bit>
#include <cstring>

namespace platform::detail {

namespace {

std::size_t VarintSize(std::size_t n)
{
    std::size_t bytes = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++bytes;
    }
    return bytes;
}

} // namespace

// A short text lives in the low bytes of its handle.
static_assert(std::endian::native == std::endian::little);

TextStore::Handle TextStore::Add(std::string_view text)
{
    if (text.size() <= 7) {
        Handle h = Handle(text.size()) << 56;
        std::memcpy(&h, text.data(), text.size());
        return h;
    }
    const std::size_t need = VarintSize(text.size()) + text.size();
    if (need > BlockSize) {
        // A text larger than a block gets one of its own; the next text starts a fresh block.
        m_blocks.push_back(std::unique_ptr<char[]>(new char[need]));
        m_size = need;
        m_used = 0;
    } else if (m_used + need > m_size) {
        std::size_t size = m_size == 0 ? FirstBlockSize : std::min(m_size * 2, BlockSize);
        while (size < need)
            size *= 2;
        m_blocks.push_back(std::unique_ptr<char[]>(new char[size]));
        m_size = size;
        m_used = 0;
    }
    const std::size_t index = m_blocks.size() - 1;
    const std::size_t offset = m_used;
    char *at = m_blocks[index].get() + offset;
    std::size_t n = text.size();
    while (n >= 0x80) {
        *at++ = char(0x80 | (n & 0x7F));
        n >>= 7;
    }
    *at++ = char(n);
    std::memcpy(at, text.data(), text.size());
    m_used += need;
    return (Handle(1) << 63) | (Handle(index) << 32) | Handle(offset);
}

std::string_view TextStore::View(const Handle &handle) const
{
    if (IsShort(handle))
        return std::string_view(reinterpret_cast<const char *>(&handle), std::size_t(handle >> 56));
    const std::size_t index = std::size_t((handle >> 32) & 0x7FFFFFFF);
    const char *at = m_blocks[index].get() + (handle & 0xFFFFFFFF);
    std::size_t n = 0;
    int shift = 0;
    while (static_cast<unsigned char>(*at) & 0x80) {
        n |= std::size_t(static_cast<unsigned char>(*at) & 0x7F) << shift;
        shift += 7;
        ++at;
    }
    n |= std::size_t(static_cast<unsigned char>(*at)) << shift;
    return std::string_view(at + 1, n);
}

void TextStore::Clear()
{
    m_blocks.clear();
    m_size = 0;
    m_used = 0;
}

} // namespace platform::detail
