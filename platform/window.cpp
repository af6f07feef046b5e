#include "platform/window.h"

#include "platform/application.h"
#include "platform/control_p.h"
#include "platform/menu.h"
#include "platform/menu_p.h"
#include "platform/runtime_p.h"
#include "platform/thread.h"
#include "platform/window_p.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {
// The framework keeps every open window alive, as the program drops its own references. The
// order is the stacking order as far as the framework saw it: frontmost first.
std::vector<std::shared_ptr<Window>> g_openWindows;

// Held weakly: the main window lives as long as it is open, like any other.
std::weak_ptr<Window> g_mainWindow;

/// Where a window of `size` first appears: centred on the main screen, or on the screen of the
/// window in front of it (the one it is opened from, else the main screen); no position leaves
/// the place to the window system.
std::optional<QPoint> FirstPosition(Window::Placement placement, const Window &self, QSize size)
{
    if (placement == Window::Placement::Default)
        return std::nullopt;
    QScreen *screen = QGuiApplication::primaryScreen();
    if (placement == Window::Placement::ParentScreen) {
        if (auto front = FrontmostWindow(); front && front.Raw() != &self) {
            if (auto *fw = static_cast<QWidget *>(front->NativeHandle()); fw && fw->screen())
                screen = fw->screen();
        }
    }
    if (!screen)
        return std::nullopt;
    const QRect avail = screen->availableGeometry();
    return QPoint(avail.x() + (avail.width() - size.width()) / 2,
        avail.y() + (avail.height() - size.height()) / 2);
}

void MoveToFront(Window *w)
{
    auto it = std::find_if(
        g_openWindows.begin(), g_openWindows.end(), [w](const auto &p) { return p.get() == w; });
    if (it != g_openWindows.end())
        std::rotate(g_openWindows.begin(), it, it + 1);
}
} // namespace

struct Window::Impl
{
    QPointer<detail::WindowWidget> widget;
    int width = 600;
    int height = 400;
    int minWidth = 0;
    int minHeight = 0;
    int maxWidth = 32000;
    int maxHeight = 32000;
    Placement placement = Placement::Default;
    Frame frame = Frame::Document;
    bool closeButton = true;
    bool minimizeButton = true;
    bool maximizeButton = true;
    bool visible = true;
    bool closed = false;
    bool shownOnce = false;
    bool positioned = false; // moved by the program: the placement no longer applies
    bool resizedPending = false;

    std::vector<std::shared_ptr<platform::Control>> controls;
    std::unordered_map<std::string, std::size_t> controlIndex;
    Ref<platform::MenuBar> menuBar;
    QPointer<QMenuBar> qmenuBar;
    std::unordered_map<std::string, std::function<bool()>> menuHandlers;
};

namespace detail {

WindowWidget::WindowWidget(Window *owner)
    : m_owner(owner)
    , m_content(new QWidget(this))
    , m_stack(new QVBoxLayout(this))
{
    m_stack->setContentsMargins(0, 0, 0, 0);
    m_stack->setSpacing(0);
    m_stack->addWidget(m_content, 1);
    m_content->installEventFilter(this);
}

int WindowWidget::ChromeHeight(int w) const
{
    // The same height QLayout gives a menu bar it places.
    QWidget *bar = m_stack->menuBar();
    if (!bar || bar->isHidden())
        return 0;
    int h = bar->heightForWidth(std::max(w, bar->minimumWidth()));
    if (h < 0)
        h = bar->sizeHint().height();
    return std::clamp(h, bar->minimumSizeHint().height(), bar->maximumHeight());
}

void WindowWidget::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_owner)
        m_owner->Close();
}

bool WindowWidget::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && m_owner)
        WindowAccess::Activated(*m_owner);
    return QWidget::event(event);
}

bool WindowWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_content && event->type() == QEvent::Resize && m_owner)
        WindowAccess::ContentResized(*m_owner, m_content->size());
    return QWidget::eventFilter(watched, event);
}

void ReleaseAllWindows()
{
    auto windows = std::move(g_openWindows);
    g_openWindows.clear();
    for (auto &w : windows) {
        WindowAccess::ControlsGone(*w);
        if (auto *widget = static_cast<WindowWidget *>(w->NativeHandle())) {
            widget->Detach();
            delete widget;
        }
    }
}

} // namespace detail

QWidget *WindowAccess::Content(const Window &w)
{
    return w.m_impl->widget ? w.m_impl->widget->Content() : nullptr;
}

void WindowAccess::UpdateTabOrder(Window &w)
{
    // Containers first, each followed by its own children, each level by tab index.
    std::vector<QWidget *> chain;
    std::function<void(std::vector<Control *>)> visit = [&](std::vector<Control *> level) {
        std::stable_sort(level.begin(), level.end(), [](Control *a, Control *b) {
            return detail::ControlCore::Of(*a).tabIndex < detail::ControlCore::Of(*b).tabIndex;
        });
        for (Control *c : level) {
            const auto &core = detail::ControlCore::Of(*c);
            if (QWidget *widget = core.Widget(); widget && (widget->focusPolicy() & Qt::TabFocus))
                chain.push_back(widget);
            visit(core.children);
        }
    };
    std::vector<Control *> top;
    for (const auto &c : w.m_impl->controls) {
        if (!c->Parent())
            top.push_back(c.get());
    }
    visit(top);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void WindowAccess::ContentResized(Window &w, QSize size)
{
    Window::Impl &d = *w.m_impl;
    if (!d.shownOnce || size.isEmpty() || (size.width() == d.width && size.height() == d.height))
        return;
    d.width = size.width();
    d.height = size.height();
    for (const auto &c : d.controls) {
        if (!c->Parent())
            detail::ControlCore::Of(*c).Place(size);
    }
    Dispatch([&w] { w.Event_Resizing(); });
    // One Resized per burst of resize steps, when the event loop next turns.
    if (!d.resizedPending && d.widget) {
        d.resizedPending = true;
        std::weak_ptr<Window> weak = w.weak_from_this();
        QMetaObject::invokeMethod(
            d.widget.data(),
            [weak] {
                auto self = weak.lock();
                if (!self || self->IsClosed())
                    return;
                self->m_impl->resizedPending = false;
                Dispatch([&self] { self->Event_Resized(); });
            },
            Qt::QueuedConnection);
    }
}

void WindowAccess::Activated(Window &w) { MoveToFront(&w); }

Window *WindowAccess::FromWidget(const QWidget *widget)
{
    for (const auto &w : g_openWindows) {
        if (w->m_impl->widget.data() == widget)
            return w.get();
    }
    return nullptr;
}

void WindowAccess::ControlsGone(Window &w)
{
    for (const auto &c : w.m_impl->controls)
        detail::ControlCore::Of(*c).WindowGone();
}

Window::Window()
    : m_impl(std::make_unique<Impl>())
{
    m_impl->widget = new detail::WindowWidget(this);
    m_impl->widget->setAttribute(Qt::WA_DeleteOnClose, false);
}

Window::~Window()
{
    WindowAccess::ControlsGone(*this); // a control may be held beyond its window
    if (m_impl->widget) {
        m_impl->widget->Detach();
        delete m_impl->widget.data();
    }
}

void Window::Construct()
{
    Layout();
    CreateControls();
    AddMenuHandlers();
    g_openWindows.push_back(shared_from_this());
    if (m_impl->visible)
        Show();
    std::weak_ptr<Window> self = shared_from_this();
    detail::DeliverWindowOpen([self] {
        auto w = self.lock();
        if (!w || w->IsClosed())
            return;
        const auto controls = w->m_impl->controls; // an Open event may add controls
        for (const auto &c : controls) {
            if (c->Open)
                Dispatch(c->Open);
        }
        if (!w->IsClosed())
            w->Event_Open();
    });
}

std::string Window::Title() const
{
    return m_impl->widget ? m_impl->widget->windowTitle().toStdString() : std::string();
}

void Window::SetTitle(const std::string &title)
{
    if (m_impl->widget)
        m_impl->widget->setWindowTitle(QString::fromStdString(title));
}

int Window::Left() const { return m_impl->widget ? m_impl->widget->geometry().x() : 0; }
int Window::Top() const { return m_impl->widget ? m_impl->widget->geometry().y() : 0; }

void Window::SetLeft(int left) { MoveTo(left, Top()); }
void Window::SetTop(int top) { MoveTo(Left(), top); }

void Window::MoveTo(int left, int top)
{
    if (auto *w = m_impl->widget.data()) {
        QRect g = w->geometry();
        g.moveTopLeft(QPoint(left, top));
        w->setGeometry(g);
        m_impl->positioned = true;
    }
}

int Window::Width() const { return m_impl->width; }
int Window::Height() const { return m_impl->height; }
int Window::MinWidth() const { return m_impl->minWidth; }
int Window::MinHeight() const { return m_impl->minHeight; }
int Window::MaxWidth() const { return m_impl->maxWidth; }
int Window::MaxHeight() const { return m_impl->maxHeight; }

void Window::SetSize(int width, int height)
{
    Impl &d = *m_impl;
    d.width = std::clamp(width, d.minWidth, std::max(d.minWidth, d.maxWidth));
    d.height = std::clamp(height, d.minHeight, std::max(d.minHeight, d.maxHeight));
    for (const auto &c : d.controls) {
        if (!c->Parent())
            detail::ControlCore::Of(*c).Place(QSize(d.width, d.height));
    }
    if (auto *w = d.widget.data())
        w->resize(d.width, d.height + w->ChromeHeight(d.width));
}

void Window::SetMinimumSize(int width, int height)
{
    m_impl->minWidth = width;
    m_impl->minHeight = height;
    if (auto *w = m_impl->widget.data())
        w->setMinimumSize(width, height + w->ChromeHeight(width));
}

void Window::SetMaximumSize(int width, int height)
{
    m_impl->maxWidth = width;
    m_impl->maxHeight = height;
    if (auto *w = m_impl->widget.data())
        w->setMaximumSize(std::min(width, QWIDGETSIZE_MAX),
            std::min(height + w->ChromeHeight(width), QWIDGETSIZE_MAX));
}

void Window::SetFrame(Frame frame)
{
    m_impl->frame = frame;
    ApplyWindowFlags();
}

void Window::SetTitleBarButtons(bool close, bool minimize, bool maximize)
{
    m_impl->closeButton = close;
    m_impl->minimizeButton = minimize;
    m_impl->maximizeButton = maximize;
    ApplyWindowFlags();
}

void Window::ApplyWindowFlags()
{
    const Impl &d = *m_impl;
    if (!d.widget)
        return;
    // Qt gives a tool window only a close button unless asked, and a window whose buttons are
    // named must say so (CustomizeWindowHint), or Qt adds the rest.
    const bool everyButton = d.closeButton && d.minimizeButton && d.maximizeButton;
    if (d.frame == Frame::Document && everyButton) {
        d.widget->setWindowFlags(Qt::Window);
        return;
    }
    Qt::WindowFlags flags = d.frame == Frame::Floating ? Qt::Tool : Qt::Window;
    flags |= Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    if (!everyButton)
        flags |= Qt::CustomizeWindowHint;
    if (d.closeButton)
        flags |= Qt::WindowCloseButtonHint;
    if (d.minimizeButton)
        flags |= Qt::WindowMinimizeButtonHint;
    if (d.maximizeButton)
        flags |= Qt::WindowMaximizeButtonHint;
    d.widget->setWindowFlags(flags);
}

void Window::SetPlacement(Placement placement) { m_impl->placement = placement; }

bool Window::Visible() const { return m_impl->widget && m_impl->widget->isVisible(); }

void Window::SetVisible(bool visible)
{
    m_impl->visible = visible;
    if (visible)
        Show();
    else if (m_impl->widget)
        m_impl->widget->hide();
}

void Window::Show()
{
    auto *w = m_impl->widget.data();
    if (!w)
        return;
    m_impl->visible = true;
    // The menu bar is known only now: size the frame so the content keeps its design size.
    SetMinimumSize(m_impl->minWidth, m_impl->minHeight);
    SetMaximumSize(m_impl->maxWidth, m_impl->maxHeight);
    SetSize(m_impl->width, m_impl->height);
    if (!m_impl->shownOnce && !m_impl->positioned) {
        if (const auto at = FirstPosition(m_impl->placement, *this, w->size()))
            w->move(*at);
    }
    m_impl->shownOnce = true;
    const bool wasVisible = w->isVisible();
    w->show();
    if (wasVisible)
        w->raise(); // a window that appears is on top already
    w->activateWindow();
    MoveToFront(this);
    // A worker showing window after window would otherwise leave them all to be laid out and
    // painted in one turn of the event loop, which the user would feel as a stall.
    Scheduler::EndSlice();
}

void Window::Close()
{
    if (m_impl->closed)
        return;
    m_impl->closed = true;
    auto self = shared_from_this(); // the registry may hold the last reference
    Dispatch([this] { Event_Close(); });
    WindowAccess::ControlsGone(*this); // its widgets go with the window's at the next turn
    if (auto *w = m_impl->widget.data()) {
        w->Detach();
        w->hide();
        w->deleteLater();
    }
    std::erase(g_openWindows, self);
}

bool Window::IsClosed() const { return m_impl->closed; }

void Window::AddControl(const std::string &name, const Ref<platform::Control> &control,
    const Ref<platform::Control> &parent)
{
    const std::shared_ptr<platform::Control> &c = control.Shared();
    if (!c)
        throw NilObjectException("AddControl: nil control \"" + name + "\"");
    if (m_impl->controlIndex.count(name))
        throw RuntimeException("a control named \"" + name + "\" is already in the window");
    if (parent && parent->ParentWindow() != this)
        throw InvalidParentException("the parent of \"" + name + "\" is not in this window");
    m_impl->controlIndex.emplace(name, m_impl->controls.size());
    m_impl->controls.push_back(c);
    detail::ControlCore::Of(*c).Add(this, name, parent.Raw());
    WindowAccess::UpdateTabOrder(*this);
}

Ref<platform::Control> Window::FindControl(const std::string &name) const
{
    auto it = m_impl->controlIndex.find(name);
    if (it == m_impl->controlIndex.end())
        return nullptr;
    return Ref<platform::Control>(m_impl->controls[it->second]);
}

std::vector<Ref<platform::Control>> Window::Controls() const
{
    return std::vector<Ref<platform::Control>>(m_impl->controls.begin(), m_impl->controls.end());
}

void Window::SetMenuBar(const Ref<platform::MenuBar> &bar)
{
    Impl &d = *m_impl;
    if (d.qmenuBar) {
        d.widget->Stack()->setMenuBar(nullptr);
        delete d.qmenuBar.data();
    }
    d.menuBar = bar;
    if (bar && d.widget) {
        auto *qbar = new QMenuBar(d.widget);
        qbar->setNativeMenuBar(false); // inside the window, whatever the desktop offers
        MenuAccess::Install(*bar.Shared(), qbar);
        d.widget->Stack()->setMenuBar(qbar);
        qbar->show();
        d.qmenuBar = qbar;
    }
    SetMinimumSize(d.minWidth, d.minHeight);
    SetMaximumSize(d.maxWidth, d.maxHeight);
    SetSize(d.width, d.height);
}

Ref<platform::MenuBar> Window::InstalledMenuBar() const { return m_impl->menuBar; }

void Window::AddMenuHandler(const std::string &itemName, std::function<bool()> handler)
{
    m_impl->menuHandlers[itemName] = std::move(handler);
}

bool Window::HasMenuHandler(const std::string &itemName) const
{
    auto it = m_impl->menuHandlers.find(itemName);
    return it != m_impl->menuHandlers.end() && it->second;
}

bool Window::RunMenuHandler(const std::string &itemName)
{
    auto it = m_impl->menuHandlers.find(itemName);
    if (it == m_impl->menuHandlers.end() || !it->second)
        return false;
    auto handler = it->second; // the handler may replace itself
    bool handled = false;
    Dispatch([&] { handled = handler(); });
    return handled;
}

void *Window::NativeHandle() const { return m_impl->widget.data(); }

std::vector<Ref<Window>> OpenWindows()
{
    return std::vector<Ref<Window>>(g_openWindows.begin(), g_openWindows.end());
}

Ref<Window> FrontmostWindow()
{
    if (QWidget *active = QApplication::activeWindow()) {
        if (Window *w = WindowAccess::FromWidget(active))
            return Ref<Window>(w->shared_from_this());
    }
    for (const auto &w : g_openWindows) {
        if (w->Visible())
            return Ref<Window>(w);
    }
    return nullptr;
}

void SetMainWindow(const Ref<Window> &window) { g_mainWindow = window.Shared(); }

Ref<Window> MainWindow()
{
    const std::shared_ptr<Window> w = g_mainWindow.lock();
    if (!w || std::find(g_openWindows.begin(), g_openWindows.end(), w) == g_openWindows.end())
        return nullptr;
    return Ref<Window>(w);
}

void CloseAllWindows()
{
    // A Close event may close other windows or open new ones: work from a snapshot.
    const auto windows = g_openWindows;
    for (const auto &w : windows)
        w->Close();
}

namespace {

/// The screens with the main one first, the others in Qt's order.
QList<QScreen *> ScreensMainFirst()
{
    QList<QScreen *> screens = QGuiApplication::screens();
    if (QScreen *main = QGuiApplication::primaryScreen(); main && screens.removeOne(main))
        screens.prepend(main);
    return screens;
}

} // namespace

int ScreenCount() { return int(ScreensMainFirst().size()); }

ScreenArea Screen(int index)
{
    const QList<QScreen *> screens = ScreensMainFirst();
    if (index < 0 || index >= screens.size())
        throw OutOfBoundsException("Screen: no screen " + std::to_string(index));
    const QRect g = screens[index]->geometry();
    return { g.x(), g.y(), g.width(), g.height() };
}

} // namespace platform
