#pragma once

#include "platform/control.h"

#include <functional>
#include <string>

namespace platform {

/// A push button; neither the default nor the cancel button of its window.
class PushButton : public Control
{
public:
    PushButton();
    std::string Caption() const;
    void SetCaption(const std::string &caption);

    /// The button was pressed.
    std::function<void()> Action;
};

/// A label of plain text, left-aligned. One line by default; a multi-line label wraps its text.
class StaticText : public Control
{
public:
    StaticText();
    std::string Text() const;
    /// Sets the text; the label repaints at the next turn of the event loop.
    void SetText(const std::string &text);
    bool Multiline() const;
    void SetMultiline(bool on);
};

/// A progress bar from 0 to Maximum. A Maximum of 0 or less shows an indeterminate bar.
class ProgressBar : public Control
{
public:
    ProgressBar();
    int Maximum() const;
    void SetMaximum(int maximum);
    /// The value as set; the bar shows it clamped to 0 … Maximum.
    int Value() const;
    void SetValue(int value);

private:
    void Apply();
    int m_maximum = 100;
    int m_value = 0;
};

/// A framed group with a caption; controls added with it as their parent lie inside it.
class GroupBox : public Control
{
public:
    GroupBox();
    std::string Caption() const;
    void SetCaption(const std::string &caption);
};

/// A multi-line field of plain text. Positions and lengths count characters (Unicode code
/// points); a line end counts as one.
class EditField : public Control
{
public:
    EditField();
    std::string Text() const;
    void SetText(const std::string &text);
    /// Number of characters of the text.
    int Length() const;
    int SelStart() const;
    void SetSelStart(int start);
    int SelLength() const;
    void SetSelLength(int length);
    std::string SelText() const;
    /// Replaces the selection with `text`; the insertion point ends after it.
    void SetSelText(const std::string &text);
    bool ReadOnly() const;
    void SetReadOnly(bool on);

    /// The selection or the insertion point changed.
    std::function<void()> SelChange;
};

} // namespace platform
