#pragma once
// The widgets behind the window's controls whose behaviour Qt's stock widgets do not have: an edit box
// that takes no more text than it can show, a one-line edit box that scrolls sideways and takes Enter
// as a line break, and the spin control's pair of arrows. The main window's form places them.

#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

class QToolButton;

namespace vorsa::runtime {

// A single-line edit box without automatic horizontal scrolling: typing, pasting or composing stops
// once the text would no longer fit the visible width; of a longer paste the box takes the part that
// fits. Texts set by the program through set_program_text are not cut.
class WidthLimitedLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit WidthLimitedLineEdit(QWidget* parent = nullptr);

    // Width in pixels that the text may take: the contents rectangle less the text margins and the
    // cursor's room at both ends.
    int text_room() const;
    bool fits(const QString& text) const;

    // Sets the whole text, however wide.
    void set_program_text(const QString& text);

private:
    friend class FitsWidthValidator;
    // The text before the edit being checked, and whether the program is setting the text.
    QString m_before;
    bool m_program_text = false;
};

// A multi-line edit box shown one line high: no wrapping, no scroll bars, the view follows the cursor
// sideways, Enter inserts a line break, Tab moves to the next control. Its text uses "\n" between
// lines as Qt does; the control object turns that into the platform's CR LF.
class OneLineTextEdit : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit OneLineTextEdit(QWidget* parent = nullptr);
};

// A group box drawn the way the platform's dialogs draw one: the title sits at the top of the box's
// rectangle, a little in from the left, and the frame's top line runs through the middle of the title,
// so frame and title stay inside the rectangle the form gives (Qt's styles put the title on a line of
// its own above the frame, which moves the frame down by a whole line).
class TemplateGroupBox : public QGroupBox
{
    Q_OBJECT
public:
    explicit TemplateGroupBox(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The rectangle of the frame and that of the title, in the box's own coordinates.
    QRect frame_rect() const;
    QRect title_rect() const;
};

// The spin control: two arrows stacked in a small square, no buddy window and no value of its own.
// A click on the upper arrow proposes -1, on the lower arrow +1 (the platform's default range runs
// from 100 down to 0); holding an arrow repeats. The form names each arrow for screen readers by what
// it does to the value it steps (the properties upArrowName and downArrowName).
class UpDownControl : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString upArrowName READ up_arrow_name WRITE set_up_arrow_name)
    Q_PROPERTY(QString downArrowName READ down_arrow_name WRITE set_down_arrow_name)
public:
    explicit UpDownControl(QWidget* parent = nullptr);

    QToolButton* up_arrow() const { return m_up; }
    QToolButton* down_arrow() const { return m_down; }

    QString up_arrow_name() const;
    void set_up_arrow_name(const QString& name);
    QString down_arrow_name() const;
    void set_down_arrow_name(const QString& name);

signals:
    void delta_proposed(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};

} // namespace vorsa::runtime
