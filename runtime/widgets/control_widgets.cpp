#include "runtime/widgets/control_widgets.h"

#include <QFontMetrics>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QToolButton>
#include <QValidator>
#include <algorithm>
#include <qdrawutil.h>

namespace vorsa::runtime {

namespace {

// QLineEdit keeps this many pixels free on either side of the text inside its contents rectangle.
constexpr int line_edit_side_margin = 2;
constexpr int cursor_width = 1;
// The group box title starts this many pixels in from the frame's left line (about four dialog units
// of the template font) and keeps a gap of this many pixels to the frame's line on either side.
constexpr int group_title_indent = 6;
constexpr int group_title_gap = 2;

} // namespace

// Keeps every edit by the user within the width the box can show: of what an edit inserts, only the
// characters that still fit go in (none, when the box is full); deleting is always allowed.
class FitsWidthValidator : public QValidator
{
public:
    explicit FitsWidthValidator(WidthLimitedLineEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int& position) const override
    {
        if (m_edit->m_program_text || m_edit->fits(input)) return Acceptable;
        // The edit replaced the middle of the text before it: the inserted part lies between the longest
        // common start and the longest common end of the two texts.
        const QString& before = m_edit->m_before;
        const qsizetype limit = std::min(before.size(), input.size());
        qsizetype start = 0;
        while (start < limit && before[start] == input[start])
            ++start;
        qsizetype end = 0;
        while (end < limit - start && before[before.size() - 1 - end] == input[input.size() - 1 - end])
            ++end;
        if (input.size() - end <= start) return Acceptable;
        QString inserted = input.mid(start, input.size() - start - end);
        const QString head = input.left(start);
        const QString tail = input.right(end);
        while (!inserted.isEmpty() && !m_edit->fits(head + inserted + tail)) {
            inserted.chop(1);
            // Never leave half of a character made of two UTF-16 units.
            if (!inserted.isEmpty() && inserted.back().isHighSurrogate()) inserted.chop(1);
        }
        if (inserted.isEmpty()) return Invalid;
        input = head + inserted + tail;
        position = static_cast<int>(head.size() + inserted.size());
        return Acceptable;
    }

private:
    WidthLimitedLineEdit* m_edit;
};

WidthLimitedLineEdit::WidthLimitedLineEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new FitsWidthValidator(this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { m_before = text; });
}

void WidthLimitedLineEdit::set_program_text(const QString& text)
{
    m_program_text = true;
    setText(text);
    m_program_text = false;
}

int WidthLimitedLineEdit::text_room() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    contents = contents.marginsRemoved(textMargins());
    return contents.width() - 2 * line_edit_side_margin - cursor_width;
}

bool WidthLimitedLineEdit::fits(const QString& text) const
{
    return QFontMetrics(font()).horizontalAdvance(text) <= text_room();
}

TemplateGroupBox::TemplateGroupBox(QWidget* parent) : QGroupBox(parent) {}

QRect TemplateGroupBox::frame_rect() const
{
    return rect().adjusted(0, fontMetrics().height() / 2, 0, 0);
}

QRect TemplateGroupBox::title_rect() const
{
    if (title().isEmpty()) return {};
    const QFontMetrics metrics = fontMetrics();
    const int width = metrics.horizontalAdvance(title()) + 2 * group_title_gap;
    return QRect(group_title_indent, 0, std::min(width, rect().width() - 2 * group_title_indent),
                 metrics.height());
}

void TemplateGroupBox::paintEvent(QPaintEvent*)
{
    // An etched frame, as the platform draws group boxes. The style's own group-box frame cannot be
    // used: it leaves a line for the title above itself.
    QPainter painter(this);
    qDrawShadeRect(&painter, frame_rect(), palette(), true, 1, 0);
    const QRect title_box = title_rect();
    if (title_box.isEmpty()) return;
    // The title interrupts the frame's top line.
    painter.fillRect(title_box, palette().color(backgroundRole()));
    style()->drawItemText(&painter, title_box, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                          title(), QPalette::WindowText);
}

OneLineTextEdit::OneLineTextEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    // One line of the GUI font fills the box; the platform's edit box has no inner margin either.
    document()->setDocumentMargin(1);
}

UpDownControl::UpDownControl(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    const struct
    {
        QToolButton* button;
        Qt::ArrowType arrow;
        int delta;
    } arrows[] = {{m_up, Qt::UpArrow, -1}, {m_down, Qt::DownArrow, +1}};
    for (const auto& arrow : arrows) {
        arrow.button->setArrowType(arrow.arrow);
        arrow.button->setFocusPolicy(Qt::NoFocus);
        arrow.button->setAutoRepeat(true);
        const int delta = arrow.delta;
        connect(arrow.button, &QToolButton::clicked, this, [this, delta] { emit delta_proposed(delta); });
    }
    setFocusPolicy(Qt::NoFocus);
}

QString UpDownControl::up_arrow_name() const
{
    return m_up->accessibleName();
}

void UpDownControl::set_up_arrow_name(const QString& name)
{
    m_up->setAccessibleName(name);
}

QString UpDownControl::down_arrow_name() const
{
    return m_down->accessibleName();
}

void UpDownControl::set_down_arrow_name(const QString& name)
{
    m_down->setAccessibleName(name);
}

void UpDownControl::resizeEvent(QResizeEvent* event)
{
    const int width = event->size().width();
    const int height = event->size().height();
    const int upper = height / 2;
    m_up->setGeometry(0, 0, width, upper);
    m_down->setGeometry(0, upper, width, height - upper);
}

} // namespace vorsa::runtime
