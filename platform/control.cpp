#include "platform/control.h"

#include "platform/control_p.h"
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

const std::string &Control::Name() const { return m_core->name; }
Window *Control::ParentWindow() const { return m_core->window; }
Control *Control::Parent() const { return m_core->parent; }

int Control::Left() const { return m_core->ContainerOrigin().x() + m_core->local.x(); }
int Control::Top() const { return m_core->ContainerOrigin().y() + m_core->local.y(); }
int Control::Width() const { return m_core->local.width(); }
int Control::Height() const { return m_core->local.height(); }

void Control::SetLeft(int left) { SetBounds(left, Top(), Width(), Height()); }
void Control::SetTop(int top) { SetBounds(Left(), top, Width(), Height()); }
void Control::SetWidth(int width) { SetBounds(Left(), Top(), width, Height()); }
void Control::SetHeight(int height) { SetBounds(Left(), Top(), Width(), height); }

void Control::SetBounds(int left, int top, int width, int height)
{
    ControlCore &c = *m_core;
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

bool Control::LockLeft() const { return m_core->lockLeft; }
bool Control::LockTop() const { return m_core->lockTop; }
bool Control::LockRight() const { return m_core->lockRight; }
bool Control::LockBottom() const { return m_core->lockBottom; }

void Control::SetLocks(bool left, bool top, bool right, bool bottom)
{
    m_core->lockLeft = left;
    m_core->lockTop = top;
    m_core->lockRight = right;
    m_core->lockBottom = bottom;
    m_core->Anchor();
}

bool Control::Enabled() const { return m_core->enabled; }

void Control::SetEnabled(bool enabled)
{
    m_core->enabled = enabled;
    if (m_core->widget)
        m_core->widget->setEnabled(enabled);
}

bool Control::Visible() const { return m_core->visible; }

void Control::SetVisible(bool visible)
{
    m_core->visible = visible;
    if (m_core->widget && (m_core->window || !visible))
        m_core->widget->setVisible(visible);
}

const std::string &Control::HelpTag() const { return m_core->helpTag; }

void Control::SetHelpTag(const std::string &tag)
{
    m_core->helpTag = tag;
    if (m_core->widget)
        m_core->widget->setToolTip(QString::fromStdString(tag));
}

int Control::TabIndex() const { return m_core->tabIndex; }

void Control::SetTabIndex(int index)
{
    m_core->tabIndex = index;
    if (m_core->window)
        WindowAccess::UpdateTabOrder(*m_core->window);
}

const std::string &Control::TextFont() const { return m_core->textFont; }

void Control::SetTextFont(const std::string &family)
{
    m_core->textFont = family;
    m_core->ApplyFont();
}

double Control::TextSize() const { return m_core->textSize; }

void Control::SetTextSize(double size)
{
    m_core->textSize = size;
    m_core->ApplyFont();
}

void Control::Refresh()
{
    if (m_core->widget)
        m_core->widget->update();
}

void Control::SetFocus()
{
    if (m_core->widget)
        m_core->widget->setFocus(Qt::OtherFocusReason);
}

void *Control::NativeHandle() const { return m_core->widget.data(); }

} // namespace platform
