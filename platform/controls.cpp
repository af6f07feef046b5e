#include "platform/controls.h"

#include "platform/application.h"
#include "platform/control_p.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>

#include <algorithm>
#include <source_location>
#include <utility>

namespace platform {

using detail::ControlCore;

namespace {

// The control's widget for one of its operations, which raise once the window is gone.
template<class W>
W *WidgetOf(const Control &c, std::source_location where = std::source_location::current())
{
    return static_cast<W *>(ControlCore::Live(c, where).Widget());
}

QString Q(const std::string &s) { return QString::fromStdString(s); }

/// Qt's bar formats its percentage text on every value set (to decide whether to repaint), in
/// the user's locale, even while the text is hidden: a scan or a reload sets the value once per
/// file or row, and that formatting was a tenth of a comparison's time. Our bars show no text.
class QuietProgressBar : public QProgressBar
{
public:
    QString text() const override { return isTextVisible() ? QProgressBar::text() : QString(); }
};

// Document positions count UTF-16 units; the framework counts code points.
int UnitsFromChars(const QString &text, int chars)
{
    int units = 0;
    for (int n = 0; n < chars && units < text.size(); ++n)
        units += (text.at(units).isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
    return units;
}

int CharsFromUnits(const QString &text, int units)
{
    int chars = 0;
    for (int i = 0; i < units && i < text.size(); ++i) {
        if (!text.at(i).isLowSurrogate() || i == 0 || !text.at(i - 1).isHighSurrogate())
            ++chars;
    }
    return chars;
}

} // namespace

PushButton::PushButton()
{
    auto *button = new QPushButton();
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    ControlCore::Of(*this).Attach(button);
    QObject::connect(button, &QPushButton::clicked, [this] {
        if (Action)
            Dispatch(Action);
    });
}

std::string PushButton::Caption() const
{
    auto *b = WidgetOf<QPushButton>(*this);
    return b ? b->text().toStdString() : std::string();
}

void PushButton::SetCaption(const std::string &caption)
{
    if (auto *b = WidgetOf<QPushButton>(*this))
        b->setText(Q(caption).replace(QLatin1Char('&'), QLatin1String("&&")));
}

StaticText::StaticText()
{
    auto *label = new QLabel();
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFocusPolicy(Qt::NoFocus);
    ControlCore::Of(*this).Attach(label);
}

std::string StaticText::Text() const
{
    auto *l = WidgetOf<QLabel>(*this);
    return l ? l->text().toStdString() : std::string();
}

void StaticText::SetText(const std::string &text)
{
    if (auto *l = WidgetOf<QLabel>(*this)) {
        l->setText(Q(text));
        l->update();
    }
}

bool StaticText::Multiline() const
{
    auto *l = WidgetOf<QLabel>(*this);
    return l && l->wordWrap();
}

void StaticText::SetMultiline(bool on)
{
    if (auto *l = WidgetOf<QLabel>(*this)) {
        l->setWordWrap(on);
        l->setAlignment(Qt::AlignLeft | (on ? Qt::AlignTop : Qt::AlignVCenter));
    }
}

ProgressBar::ProgressBar()
{
    auto *bar = new QuietProgressBar();
    bar->setTextVisible(false);
    ControlCore::Of(*this).Attach(bar);
    Apply();
}

int ProgressBar::Maximum() const
{
    ControlCore::Live(*this);
    return m_maximum;
}

void ProgressBar::SetMaximum(int maximum)
{
    ControlCore::Live(*this);
    m_maximum = maximum;
    Apply();
}

int ProgressBar::Value() const
{
    ControlCore::Live(*this);
    return m_value;
}

void ProgressBar::SetValue(int value)
{
    ControlCore::Live(*this);
    m_value = value;
    Apply();
}

void ProgressBar::Apply()
{
    auto *bar = static_cast<QProgressBar *>(ControlCore::Of(*this).Widget());
    if (!bar)
        return;
    if (m_maximum <= 0) {
        bar->setRange(0, 0);
        return;
    }
    bar->setRange(0, m_maximum);
    bar->setValue(std::clamp(m_value, 0, m_maximum));
}

GroupBox::GroupBox()
{
    auto *box = new QGroupBox();
    box->setFocusPolicy(Qt::NoFocus);
    ControlCore::Of(*this).Attach(box);
}

std::string GroupBox::Caption() const
{
    auto *b = WidgetOf<QGroupBox>(*this);
    return b ? b->title().toStdString() : std::string();
}

void GroupBox::SetCaption(const std::string &caption)
{
    if (auto *b = WidgetOf<QGroupBox>(*this))
        b->setTitle(Q(caption));
}

EditField::EditField()
{
    auto *edit = new QPlainTextEdit();
    edit->setTabChangesFocus(true);
    edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    edit->setFocusPolicy(Qt::StrongFocus);
    ControlCore::Of(*this).Attach(edit);
    // One SelChange per change of the selection, though Qt may signal it twice.
    auto last = std::make_shared<std::pair<int, int>>(0, 0);
    auto changed = [this, last] {
        if (ControlCore::Of(*this).gone)
            return; // Qt tearing the widget down
        const std::pair<int, int> now(SelStart(), SelLength());
        if (now == *last)
            return;
        *last = now;
        if (SelChange)
            Dispatch(SelChange);
    };
    QObject::connect(edit, &QPlainTextEdit::selectionChanged, changed);
    QObject::connect(edit, &QPlainTextEdit::cursorPositionChanged, changed);
}

std::string EditField::Text() const
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    return e ? e->toPlainText().toStdString() : std::string();
}

void EditField::SetText(const std::string &text)
{
    if (auto *e = WidgetOf<QPlainTextEdit>(*this))
        e->setPlainText(Q(text));
}

int EditField::Length() const
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return 0;
    const QString text = e->toPlainText();
    return CharsFromUnits(text, int(text.size()));
}

int EditField::SelStart() const
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return 0;
    return CharsFromUnits(e->toPlainText(), e->textCursor().selectionStart());
}

void EditField::SetSelStart(int start)
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return;
    QTextCursor cursor = e->textCursor();
    cursor.setPosition(UnitsFromChars(e->toPlainText(), std::max(0, start)));
    e->setTextCursor(cursor);
}

int EditField::SelLength() const
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return 0;
    const QString text = e->toPlainText();
    const QTextCursor cursor = e->textCursor();
    return CharsFromUnits(text, cursor.selectionEnd())
        - CharsFromUnits(text, cursor.selectionStart());
}

void EditField::SetSelLength(int length)
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return;
    const QString text = e->toPlainText();
    QTextCursor cursor = e->textCursor();
    const int start = cursor.selectionStart();
    const int startChars = CharsFromUnits(text, start);
    const int end = UnitsFromChars(text, startChars + std::max(0, length));
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    e->setTextCursor(cursor);
}

std::string EditField::SelText() const
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return std::string();
    // selectedText() writes line ends as U+2029; the field's text has "\n" there.
    QString s = e->textCursor().selectedText();
    s.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    s.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return s.toStdString();
}

void EditField::SetSelText(const std::string &text)
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    if (!e)
        return;
    QTextCursor cursor = e->textCursor();
    cursor.insertText(Q(text));
    e->setTextCursor(cursor);
}

bool EditField::ReadOnly() const
{
    auto *e = WidgetOf<QPlainTextEdit>(*this);
    return e && e->isReadOnly();
}

void EditField::SetReadOnly(bool on)
{
    if (auto *e = WidgetOf<QPlainTextEdit>(*this))
        e->setReadOnly(on);
}

} // namespace platform
