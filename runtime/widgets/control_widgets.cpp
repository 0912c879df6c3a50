#include "runtime/widgets/control_widgets.h"

#include <QFontMetrics>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QToolButton>
#include <QValidator>

namespace vorsa::runtime {

namespace {

// QLineEdit keeps this many pixels free on either side of the text inside its contents rectangle.
constexpr int line_edit_side_margin = 2;
constexpr int cursor_width = 1;

// Refuses every edit by the user that would make the text wider than the box can show.
class FitsWidthValidator : public QValidator
{
public:
    explicit FitsWidthValidator(WidthLimitedLineEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int&) const override { return m_edit->fits(input) ? Acceptable : Invalid; }

private:
    WidthLimitedLineEdit* m_edit;
};

} // namespace

WidthLimitedLineEdit::WidthLimitedLineEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new FitsWidthValidator(this));
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

void UpDownControl::resizeEvent(QResizeEvent* event)
{
    const int width = event->size().width();
    const int height = event->size().height();
    const int upper = height / 2;
    m_up->setGeometry(0, 0, width, upper);
    m_down->setGeometry(0, upper, width, height - upper);
}

} // namespace vorsa::runtime
