#include "platform/window.h"

#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

using namespace platform;

namespace {

class FramedWindow : public Window
{
public:
    explicit FramedWindow(Frame frame)
        : m_frame(frame)
    {
    }

protected:
    void Layout() override
    {
        SetTitle("Message Log");
        SetSize(448, 292);
        SetFrame(m_frame);
    }

private:
    Frame m_frame;
};

} // namespace

TEST(WindowFrame, EveryFrame_HasTitleCloseMinimizeAndMaximizeButtons)
{
    struct Case
    {
        const char *frame;
        Window::Frame value;
        Qt::WindowType type;
    };
    for (const Case &c : { Case { "document", Window::Frame::Document, Qt::Window },
             Case { "floating", Window::Frame::Floating, Qt::Tool } }) {
        SCOPED_TRACE(c.frame);
        auto w = MakeWindow<FramedWindow>(c.value);
        auto *widget = static_cast<QWidget *>(w->NativeHandle());
        ASSERT_NE(widget->windowHandle(), nullptr);
        // Both what the widget asks for and what its native window hands the window manager.
        for (const Qt::WindowFlags flags :
            { widget->windowFlags(), widget->windowHandle()->flags() }) {
            EXPECT_EQ(flags & Qt::WindowType_Mask, c.type);
            for (const Qt::WindowType button : { Qt::WindowTitleHint, Qt::WindowCloseButtonHint,
                     Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint }) {
                SCOPED_TRACE(int(button));
                EXPECT_TRUE(flags.testFlag(button));
            }
        }
        w->Close();
    }
}
