#include "platform/window.h"

#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <vector>

using namespace platform;

namespace {

class FramedWindow : public Window
{
public:
    explicit FramedWindow(Frame frame, bool closeOnly = false)
        : m_frame(frame)
        , m_closeOnly(closeOnly)
    {
    }

protected:
    void Layout() override
    {
        SetTitle("Message Log");
        SetSize(448, 292);
        SetFrame(m_frame);
        if (m_closeOnly)
            SetTitleBarButtons(/*close=*/true, /*minimize=*/false, /*maximize=*/false);
    }

private:
    Frame m_frame;
    bool m_closeOnly;
};

struct FrameCase
{
    const char *frame;
    Window::Frame value;
    Qt::WindowType type;
};

const FrameCase kFrames[] = { { "document", Window::Frame::Document, Qt::Window },
    { "floating", Window::Frame::Floating, Qt::Tool } };

/// What the widget asks for and what its native window hands the window manager.
std::vector<Qt::WindowFlags> FlagsOf(const Window &w)
{
    auto *widget = static_cast<QWidget *>(w.NativeHandle());
    if (!widget->windowHandle())
        return {};
    return { widget->windowFlags(), widget->windowHandle()->flags() };
}

} // namespace

TEST(WindowFrame, EveryFrame_HasTitleCloseMinimizeAndMaximizeButtons)
{
    for (const FrameCase &c : kFrames) {
        SCOPED_TRACE(c.frame);
        auto w = MakeWindow<FramedWindow>(c.value);
        const auto flagSets = FlagsOf(*w);
        ASSERT_EQ(flagSets.size(), 2u);
        for (const Qt::WindowFlags flags : flagSets) {
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

TEST(WindowFrame, TitleBarButtons_CloseOnly_NoMinimizeOrMaximizeButton)
{
    for (const FrameCase &c : kFrames) {
        SCOPED_TRACE(c.frame);
        auto w = MakeWindow<FramedWindow>(c.value, /*closeOnly=*/true);
        const auto flagSets = FlagsOf(*w);
        ASSERT_EQ(flagSets.size(), 2u);
        for (const Qt::WindowFlags flags : flagSets) {
            EXPECT_EQ(flags & Qt::WindowType_Mask, c.type);
            EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
            EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
            EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
            EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
        }
        w->Close();
    }
}
