#include "platform/control.h"

#include "platform/control_p.h"
#include "platform/exceptions.h"
#include "platform/window.h"
#include "platform/window_p.h"

#include <QApplication>

#include <algorithm>
#include <cmath>

namespace platform {

namespace detail {

QFont FontFor(const std::string &family, double size)
{
    QFont font = QApplication::font();
    const double base = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * 96.0 / 72.0;
    double pixels = base;
    if (family == "SmallSystem")
        pixels = std::round(base * 11.0 / 13.0); // the ratio of the two system fonts
    else if (family != "System" && !family.empty())
        font.setFamily(QString::fromStdString(family));
    if (size > 0)
        pixels = size;
    font.setPixelSize(std::max(1, int(std::lround(pixels))));
    return font;
}

void ControlCore::ThrowGone(const ControlCore &core, std::source_location where)
{
    throw NilObjectException(std::string(where.function_name()) + ": the window of control \""
        + core.name + "\" is gone");
}

void ControlCore::WindowGone()
{
    gone = true;
    window = nullptr;
}

void ControlCore::Attach(QWidget *w)
{
    widget = w;
    w->setGeometry(local);
    ApplyFont();
}

void ControlCore::Add(Window *w, const std::string &controlName, Control *parentControl)
{
    window = w;
    name = controlName;
    parent = parentControl;
    if (parent)
        Of(*parent).children.push_back(owner);
    QWidget *host = parent ? Of(*parent).ChildArea() : WindowAccess::Content(*w);
    if (widget && host) {
        widget->setParent(host);
        widget->setGeometry(local);
        widget->setEnabled(enabled);
        widget->setVisible(visible);
    }
    Anchor();
}

QSize ControlCore::ContainerSize() const
{
    if (parent)
        return Of(*parent).local.size();
    if (window)
        return QSize(window->Width(), window->Height());
    return QSize();
}

QPoint ControlCore::ContainerOrigin() const
{
    if (!parent)
        return QPoint(0, 0);
    const ControlCore &p = Of(*parent);
    return p.ContainerOrigin() + p.local.topLeft();
}

void ControlCore::Anchor()
{
    const QSize c = ContainerSize();
    distLeft = local.x();
    distTop = local.y();
    distRight = c.width() - (local.x() + local.width());
    distBottom = c.height() - (local.y() + local.height());
}

void ControlCore::Place(QSize c)
{
    QRect r = local;
    if (lockLeft && lockRight) {
        r.moveLeft(distLeft);
        r.setWidth(std::max(0, c.width() - distLeft - distRight));
    } else if (lockRight) {
        r.moveLeft(c.width() - distRight - local.width());
    }
    if (lockTop && lockBottom) {
        r.moveTop(distTop);
        r.setHeight(std::max(0, c.height() - distTop - distBottom));
    } else if (lockBottom) {
        r.moveTop(c.height() - distBottom - local.height());
    }
    const bool resized = r.size() != local.size();
    local = r;
    ApplyGeometry();
    if (resized) {
        for (Control *child : children)
            Of(*child).Place(local.size());
    }
}

void ControlCore::ApplyGeometry()
{
    if (widget)
        widget->setGeometry(local);
}

void ControlCore::ApplyFont()
{
    if (widget)
        widget->setFont(FontFor(textFont, textSize));
}

} // namespace detail

using detail::ControlCore;

Control::Control()
    : m_core(std::make_unique<ControlCore>(this))
{
}

Control::~Control()
{
    if (m_core->parent)
        std::erase(ControlCore::Of(*m_core->parent).children, this);
    for (Control *child : m_core->children)
        ControlCore::Of(*child).parent = nullptr;
    if (QWidget *w = m_core->widget.data()) {
        w->disconnect(); // the handlers capture the control, which is half gone
        delete w;
    }
}

const std::string &Control::Name() const { return ControlCore::Live(*this).name; }
Window *Control::ParentWindow() const { return ControlCore::Live(*this).window; }
Control *Control::Parent() const { return ControlCore::Live(*this).parent; }

int Control::Left() const
{
    const ControlCore &c = ControlCore::Live(*this);
    return c.ContainerOrigin().x() + c.local.x();
}

int Control::Top() const
{
    const ControlCore &c = ControlCore::Live(*this);
    return c.ContainerOrigin().y() + c.local.y();
}

int Control::Width() const { return ControlCore::Live(*this).local.width(); }
int Control::Height() const { return ControlCore::Live(*this).local.height(); }

void Control::SetLeft(int left)
{
    ControlCore::Live(*this); // the error names this operation, not a getter below
    SetBounds(left, Top(), Width(), Height());
}

void Control::SetTop(int top)
{
    ControlCore::Live(*this);
    SetBounds(Left(), top, Width(), Height());
}

void Control::SetWidth(int width)
{
    ControlCore::Live(*this);
    SetBounds(Left(), Top(), width, Height());
}

void Control::SetHeight(int height)
{
    ControlCore::Live(*this);
    SetBounds(Left(), Top(), Width(), height);
}

void Control::SetBounds(int left, int top, int width, int height)
{
    ControlCore &c = ControlCore::Live(*this);
    const QPoint origin = c.ContainerOrigin();
    const bool resized = QSize(width, height) != c.local.size();
    c.local = QRect(left - origin.x(), top - origin.y(), std::max(0, width), std::max(0, height));
    c.ApplyGeometry();
    c.Anchor();
    if (resized) {
        for (Control *child : c.children)
            ControlCore::Of(*child).Place(c.local.size());
    }
}

bool Control::LockLeft() const { return ControlCore::Live(*this).lockLeft; }
bool Control::LockTop() const { return ControlCore::Live(*this).lockTop; }
bool Control::LockRight() const { return ControlCore::Live(*this).lockRight; }
bool Control::LockBottom() const { return ControlCore::Live(*this).lockBottom; }

void Control::SetLocks(bool left, bool top, bool right, bool bottom)
{
    ControlCore &c = ControlCore::Live(*this);
    c.lockLeft = left;
    c.lockTop = top;
    c.lockRight = right;
    c.lockBottom = bottom;
    c.Anchor();
}

bool Control::Enabled() const { return ControlCore::Live(*this).enabled; }

void Control::SetEnabled(bool enabled)
{
    ControlCore &c = ControlCore::Live(*this);
    c.enabled = enabled;
    if (c.widget)
        c.widget->setEnabled(enabled);
}

bool Control::Visible() const { return ControlCore::Live(*this).visible; }

void Control::SetVisible(bool visible)
{
    ControlCore &c = ControlCore::Live(*this);
    c.visible = visible;
    if (c.widget && (c.window || !visible))
        c.widget->setVisible(visible);
}

const std::string &Control::HelpTag() const { return ControlCore::Live(*this).helpTag; }

void Control::SetHelpTag(const std::string &tag)
{
    ControlCore &c = ControlCore::Live(*this);
    c.helpTag = tag;
    if (c.widget)
        c.widget->setToolTip(QString::fromStdString(tag));
}

int Control::TabIndex() const { return ControlCore::Live(*this).tabIndex; }

void Control::SetTabIndex(int index)
{
    ControlCore &c = ControlCore::Live(*this);
    c.tabIndex = index;
    if (c.window)
        WindowAccess::UpdateTabOrder(*c.window);
}

const std::string &Control::TextFont() const { return ControlCore::Live(*this).textFont; }

void Control::SetTextFont(const std::string &family)
{
    ControlCore &c = ControlCore::Live(*this);
    c.textFont = family;
    c.ApplyFont();
}

double Control::TextSize() const { return ControlCore::Live(*this).textSize; }

void Control::SetTextSize(double size)
{
    ControlCore &c = ControlCore::Live(*this);
    c.textSize = size;
    c.ApplyFont();
}

void Control::Refresh()
{
    if (QWidget *w = ControlCore::Live(*this).Widget())
        w->update();
}

void Control::SetFocus()
{
    if (QWidget *w = ControlCore::Live(*this).Widget())
        w->setFocus(Qt::OtherFocusReason);
}

void *Control::NativeHandle() const { return m_core->gone ? nullptr : m_core->widget.data(); }

} // namespace platform
