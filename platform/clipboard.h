#pragma once

#include <string>

namespace platform {

/// The system clipboard, as plain text.
class Clipboard
{
public:
    /// The clipboard's text; empty when it holds none.
    std::string Text() const;
    /// Replaces whatever the clipboard held with `text`.
    void SetText(const std::string &text);
    bool TextAvailable() const;
};

} // namespace platform
