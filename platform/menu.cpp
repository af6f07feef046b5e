#include "platform/menu.h"

#include "platform/application.h"
#include "platform/menu_p.h"
#include "platform/window.h"
#include "platform/window_p.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>

#include <algorithm>
#include <cctype>

namespace platform {

struct MenuItem::Impl
{
    std::unique_ptr<QAction> action = std::make_unique<QAction>();
    std::unique_ptr<QMenu> menu; // made when the item becomes a menu
    std::vector<Ref<MenuItem>> children;
    MenuItem *parent = nullptr;
    std::vector<QPointer<QMenuBar>> bars; // for a menu bar: where it is shown
    std::string name;
    std::string text;
    std::string shortcut;
    bool autoEnable = false;
    bool isBar = false;
};

namespace {

std::string Trim(const std::string &s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s)
{
    for (char &c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Qt shows a menu's text with "&" as the mnemonic marker; the design's texts carry none.
QString MenuText(const std::string &text)
{
    return QString::fromStdString(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

QWidget *FocusedWidgetOfFront()
{
    if (auto front = FrontmostWindow()) {
        if (auto *w = static_cast<QWidget *>(front->NativeHandle()))
            return w->focusWidget();
    }
    return QApplication::focusWidget();
}

} // namespace

std::string NativeShortcutText(const std::string &shortcut)
{
    const std::string s = Trim(shortcut);
    if (s.empty())
        return std::string();
    std::vector<std::string> parts;
    std::string part;
    for (std::size_t i = 0; i < s.size(); ++i) {
        // A "+" right after a separator (or alone) is the key itself.
        if (s[i] == '+' && !part.empty()) {
            parts.push_back(Trim(part));
            part.clear();
        } else {
            part += s[i];
        }
    }
    parts.push_back(Trim(part));
    const std::string key = parts.back();
    parts.pop_back();
    bool ctrl = parts.empty(); // a lone key means Cmd+key
    bool shift = false;
    bool alt = false;
    bool meta = false;
    for (const std::string &p : parts) {
        const std::string m = Lower(p);
        if (m == "cmd" || m == "command" || m == "ctrl" || m == "control" || m == "accel")
            ctrl = true;
        else if (m == "shift")
            shift = true;
        else if (m == "option" || m == "opt" || m == "alt")
            alt = true;
        else if (m == "meta" || m == "macctrl")
            meta = true;
    }
    std::string out;
    if (ctrl)
        out += "Ctrl+";
    if (meta)
        out += "Meta+";
    if (alt)
        out += "Alt+";
    if (shift)
        out += "Shift+";
    std::string k = key;
    if (k.size() == 1)
        k[0] = char(std::toupper(static_cast<unsigned char>(k[0])));
    return out + k;
}

namespace detail {

bool EditCommandFor(const std::string &itemName, EditCommand &command)
{
    static const std::pair<const char *, EditCommand> names[] = {
        { "EditUndo", EditCommand::Undo },
        { "EditCut", EditCommand::Cut },
        { "EditCopy", EditCommand::Copy },
        { "EditPaste", EditCommand::Paste },
        { "EditClear", EditCommand::Clear },
    };
    for (const auto &[name, c] : names) {
        if (itemName == name) {
            command = c;
            return true;
        }
    }
    return false;
}

namespace {

// What a text field allows now; the three kinds of Qt field answer it in their own terms.
struct EditState
{
    bool writable = false;
    bool selection = false;
    bool undo = false;
    bool paste = false;
};

template<class Edit> EditState DocumentState(const Edit *e)
{
    return { !e->isReadOnly(), e->textCursor().hasSelection(), e->document()->isUndoAvailable(),
        e->canPaste() };
}

EditState LineState(const QLineEdit *e)
{
    const QClipboard *cb = QGuiApplication::clipboard();
    return { !e->isReadOnly(), e->hasSelectedText() && e->echoMode() == QLineEdit::Normal,
        e->isUndoAvailable(), cb && !cb->text().isEmpty() };
}

template<class Edit> void ClearSelection(Edit *e)
{
    QTextCursor cursor = e->textCursor();
    cursor.removeSelectedText();
    e->setTextCursor(cursor);
}

void ClearSelection(QLineEdit *e) { e->del(); }

template<class Edit> void Perform(Edit *e, EditCommand command)
{
    switch (command) {
    case EditCommand::Undo:
        e->undo();
        break;
    case EditCommand::Cut:
        e->cut();
        break;
    case EditCommand::Copy:
        e->copy();
        break;
    case EditCommand::Paste:
        e->paste();
        break;
    case EditCommand::Clear:
        ClearSelection(e);
        break;
    }
}

/// Calls `f` with `focus` as the text field it is; false when it is none.
template<class F> bool WithTextField(QWidget *focus, F &&f)
{
    if (auto *e = qobject_cast<QPlainTextEdit *>(focus)) {
        f(e, DocumentState(e));
        return true;
    }
    if (auto *e = qobject_cast<QTextEdit *>(focus)) {
        f(e, DocumentState(e));
        return true;
    }
    if (auto *e = qobject_cast<QLineEdit *>(focus)) {
        f(e, LineState(e));
        return true;
    }
    return false;
}

bool Allows(const EditState &s, EditCommand command)
{
    switch (command) {
    case EditCommand::Undo:
        return s.writable && s.undo;
    case EditCommand::Cut:
    case EditCommand::Clear:
        return s.writable && s.selection;
    case EditCommand::Copy:
        return s.selection;
    case EditCommand::Paste:
        return s.writable && s.paste;
    }
    return false;
}

} // namespace

bool CanEdit(QWidget *focus, EditCommand command)
{
    bool can = false;
    WithTextField(focus, [&](auto *, const EditState &s) { can = Allows(s, command); });
    return can;
}

bool DoEdit(QWidget *focus, EditCommand command)
{
    return WithTextField(focus, [&](auto *e, const EditState &s) {
        if (Allows(s, command))
            Perform(e, command);
    });
}

} // namespace detail

MenuItem::MenuItem()
    : m_impl(std::make_unique<Impl>())
{
    // The bar lives in the main window, yet its shortcuts act whichever of the program's windows
    // is in front (the Message Log has no bar of its own); Choose then asks the frontmost
    // window. A modal dialog still blocks them, and a focused text field keeps its own keys.
    m_impl->action->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(m_impl->action.get(), &QAction::triggered, [this] { Choose(); });
}

MenuItem::MenuItem(const std::string &text)
    : MenuItem()
{
    SetText(text);
}

MenuItem::~MenuItem()
{
    for (auto &child : m_impl->children)
        child->m_impl->parent = nullptr;
}

const std::string &MenuItem::Name() const { return m_impl->name; }
void MenuItem::SetName(const std::string &name) { m_impl->name = name; }
const std::string &MenuItem::Text() const { return m_impl->text; }

void MenuItem::SetText(const std::string &text)
{
    m_impl->text = text;
    m_impl->action->setSeparator(text == "-");
    m_impl->action->setText(MenuText(text));
    if (m_impl->menu)
        m_impl->menu->setTitle(MenuText(text));
}

const std::string &MenuItem::KeyboardShortcut() const { return m_impl->shortcut; }

void MenuItem::SetKeyboardShortcut(const std::string &shortcut)
{
    m_impl->shortcut = shortcut;
    m_impl->action->setShortcut(QKeySequence(
        QString::fromStdString(NativeShortcutText(shortcut)), QKeySequence::PortableText));
}

bool MenuItem::AutoEnable() const { return m_impl->autoEnable; }
void MenuItem::SetAutoEnable(bool on) { m_impl->autoEnable = on; }
bool MenuItem::Enabled() const { return m_impl->action->isEnabled(); }
void MenuItem::SetEnabled(bool enabled) { m_impl->action->setEnabled(enabled); }
bool MenuItem::IsSeparator() const { return m_impl->text == "-"; }

void MenuItem::Append(const Ref<MenuItem> &item)
{
    MenuItem &child = item.Get();
    if (child.m_impl->parent)
        throw InvalidParentException("the menu item \"" + child.Name() + "\" is already in a menu");
    child.m_impl->parent = this;
    m_impl->children.push_back(item);
    if (m_impl->isBar) {
        // Every entry of a bar is a menu, even before it has items.
        if (!child.m_impl->menu) {
            child.m_impl->menu = std::make_unique<QMenu>();
            child.m_impl->menu->setTitle(MenuText(child.Text()));
            child.m_impl->action->setMenu(child.m_impl->menu.get());
            MenuItem *menuItem = &child;
            MenuAccess::ConnectMenu(*menuItem);
        }
        for (auto &bar : m_impl->bars) {
            if (bar)
                bar->addAction(child.m_impl->action.get());
        }
        return;
    }
    if (!m_impl->menu) {
        m_impl->menu = std::make_unique<QMenu>();
        m_impl->menu->setTitle(MenuText(Text()));
        m_impl->action->setMenu(m_impl->menu.get());
        MenuAccess::ConnectMenu(*this);
    }
    m_impl->menu->addAction(child.m_impl->action.get());
}

int MenuItem::Count() const { return int(m_impl->children.size()); }

Ref<MenuItem> MenuItem::Item(int index) const
{
    if (index < 0 || index >= Count())
        throw OutOfBoundsException(
            "menu item index " + std::to_string(index) + " of " + std::to_string(Count()));
    return m_impl->children[std::size_t(index)];
}

Ref<MenuItem> MenuItem::Child(const std::string &name) const
{
    for (const auto &c : m_impl->children) {
        if (c->Name() == name)
            return c;
    }
    return nullptr;
}

MenuItem *MenuItem::Parent() const { return m_impl->parent; }

bool MenuItem::EnabledByRule() const
{
    const Impl &c = *m_impl;
    if (c.menu || c.autoEnable)
        return true; // a submenu opens; its items follow the rule then
    if (auto front = FrontmostWindow(); front && front->HasMenuHandler(c.name))
        return true;
    detail::EditCommand command;
    return detail::EditCommandFor(c.name, command)
        && detail::CanEdit(FocusedWidgetOfFront(), command);
}

void MenuItem::EnableMenuItems()
{
    for (auto &child : m_impl->children)
        child->m_impl->action->setEnabled(child->EnabledByRule());
}

void MenuItem::Choose()
{
    if (IsSeparator() || !EnabledByRule())
        return;
    Dispatch([this] {
        auto self = shared_from_this(); // a handler may drop the menu
        if (auto front = FrontmostWindow(); front && front->RunMenuHandler(Name()))
            return;
        detail::EditCommand command;
        if (detail::EditCommandFor(Name(), command)) {
            detail::DoEdit(FocusedWidgetOfFront(), command);
            return;
        }
        DefaultAction();
    });
}

void MenuItem::DefaultAction() { }

void MenuAccess::ConnectMenu(MenuItem &item)
{
    // The items show the rule's verdict while the menu is open. Closed, they stay enabled, so a
    // keyboard shortcut always reaches Choose, which applies the rule as it stands then.
    QMenu *menu = item.m_impl->menu.get();
    QObject::connect(menu, &QMenu::aboutToShow, [&item] { item.EnableMenuItems(); });
    QObject::connect(menu, &QMenu::aboutToHide, [&item] {
        for (auto &child : item.m_impl->children)
            child->m_impl->action->setEnabled(true);
    });
}

void *MenuItem::NativeHandle() const { return m_impl->action.get(); }

void QuitMenuItem::DefaultAction()
{
    CloseAllWindows();
    Quit(0);
}

MenuBar::MenuBar() { MenuAccess::MarkAsBar(*this); }

void MenuAccess::MarkAsBar(MenuItem &item) { item.m_impl->isBar = true; }

void MenuAccess::Install(MenuBar &bar, QMenuBar *qbar)
{
    std::erase_if(bar.m_impl->bars, [](const QPointer<QMenuBar> &b) { return b.isNull(); });
    bar.m_impl->bars.emplace_back(qbar);
    for (auto &menu : bar.m_impl->children)
        qbar->addAction(menu->m_impl->action.get());
}

} // namespace platform
