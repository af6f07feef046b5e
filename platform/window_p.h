#pragma once

// The Qt side of a framework window, shared with the framework's controls and menus.

#include "platform/window.h"

#include <QPointer>
#include <QVBoxLayout>
#include <QWidget>

class QMenuBar;

namespace platform::detail {

/// The top-level widget: an optional menu bar at the top and the content area below it, in
/// whose coordinates every control is placed.
class WindowWidget : public QWidget
{
    Q_OBJECT
public:
    explicit WindowWidget(Window *owner);
    QWidget *Content() const { return m_content; }
    QVBoxLayout *Stack() const { return m_stack; }
    /// Height of whatever sits above the content (the menu bar) in a window `width` wide.
    int ChromeHeight(int width) const;
    void Detach() { m_owner = nullptr; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Window *m_owner; // the framework window; it owns this widget
    QWidget *m_content;
    QVBoxLayout *m_stack;
};

} // namespace platform::detail

namespace platform {

/// What the framework's controls and menus need of a window.
struct WindowAccess
{
    static QWidget *Content(const Window &w);
    static void UpdateTabOrder(Window &w);
    /// The content area was resized to `size` by Qt.
    static void ContentResized(Window &w, QSize size);
    static void Activated(Window &w);
    /// The window whose widget is `widget` (a top-level widget), nullptr when none.
    static Window *FromWidget(const QWidget *widget);
    /// The window is going: its controls let go of it and raise on every later use.
    static void ControlsGone(Window &w);
};

} // namespace platform
