#pragma once

#include <string_view>

/// The scan's tests of file and folder names. They ignore the case of ASCII letters; the words
/// they look for are ASCII, so a byte test gives what a test of the last (or first) n
/// characters would.
namespace NameTests {

inline char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline bool SameAt(std::string_view s, std::size_t pos, std::string_view word)
{
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (FoldAscii(s[pos + i]) != FoldAscii(word[i]))
            return false;
    }
    return true;
}

inline bool Is(std::string_view name, std::string_view word)
{
    return name.size() == word.size() && SameAt(name, 0, word);
}

inline bool EndsWith(std::string_view name, std::string_view suffix)
{
    return name.size() >= suffix.size() && SameAt(name, name.size() - suffix.size(), suffix);
}

inline bool StartsWith(std::string_view name, std::string_view prefix)
{
    return name.size() >= prefix.size() && SameAt(name, 0, prefix);
}

inline bool Contains(std::string_view name, std::string_view word)
{
    for (std::size_t pos = 0; pos + word.size() <= name.size(); ++pos) {
        if (SameAt(name, pos, word))
            return true;
    }
    return false;
}

} // namespace NameTests
