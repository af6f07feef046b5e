#include "platform/listbox_p.h"

#include "platform/listview_p.h"

#include <QHeaderView>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

namespace {

std::string Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return std::string(s);
}

struct ColumnWidthRule
{
    enum Kind { Pixels, Percent, Share } kind = Share;
    double value = 1;
};

std::vector<ColumnWidthRule> ParseWidths(const std::string &text)
{
    std::vector<ColumnWidthRule> rules;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string item = Trim(std::string_view(text).substr(start, comma - start));
        ColumnWidthRule rule;
        try {
            if (item.empty() || item == "*") {
                rule = { ColumnWidthRule::Share, 1 };
            } else if (item.back() == '*') {
                rule = { ColumnWidthRule::Share, std::stod(item.substr(0, item.size() - 1)) };
            } else if (item.back() == '%') {
                rule = { ColumnWidthRule::Percent, std::stod(item.substr(0, item.size() - 1)) };
            } else {
                rule = { ColumnWidthRule::Pixels, std::stod(item) };
            }
        } catch (const std::exception &) {
            rule = { ColumnWidthRule::Share, 1 }; // an unreadable width shares the rest
        }
        rules.push_back(rule);
        start = comma + 1;
    }
    return rules;
}

} // namespace

void Listbox::Impl::ApplyColumnWidths()
{
    if (!view)
        return;
    std::vector<ColumnWidthRule> rules
        = widthsText.empty() ? std::vector<ColumnWidthRule>() : ParseWidths(widthsText);
    rules.resize(std::size_t(columns), ColumnWidthRule { ColumnWidthRule::Share, 1 });
    const int avail = view->viewport()->width();
    std::vector<int> widths(std::size_t(columns), 0);
    double fixed = 0;
    double shares = 0;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        const ColumnWidthRule &s = rules[i];
        if (s.kind == ColumnWidthRule::Pixels)
            widths[i] = int(std::lround(s.value));
        else if (s.kind == ColumnWidthRule::Percent)
            widths[i] = int(std::lround(avail * s.value / 100.0));
        else
            shares += std::max(0.0, s.value);
        if (s.kind != ColumnWidthRule::Share)
            fixed += widths[i];
    }
    const int rest = std::max(0, avail - int(fixed));
    int given = 0;
    int lastShare = -1;
    for (std::size_t i = 0; i < widths.size(); ++i) {
        if (rules[i].kind != ColumnWidthRule::Share)
            continue;
        widths[i] = shares > 0 ? int(rest * std::max(0.0, rules[i].value) / shares) : 0;
        given += widths[i];
        lastShare = int(i);
    }
    if (lastShare >= 0)
        widths[std::size_t(lastShare)] += rest - given; // the rounding remainder
    applyingWidths = true;
    for (std::size_t i = 0; i < widths.size(); ++i)
        view->header()->resizeSection(int(i), std::max(0, widths[i]));
    applyingWidths = false;
}

void Listbox::Impl::UserResizedColumns()
{
    if (applyingWidths || !view)
        return;
    std::string text;
    for (int i = 0; i < columns; ++i) {
        if (i)
            text += ", ";
        text += std::to_string(view->header()->sectionSize(i));
    }
    widthsText = text;
}

} // namespace platform
