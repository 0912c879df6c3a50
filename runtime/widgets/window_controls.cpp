#include "runtime/widgets/window_controls.h"

#include "runtime/qt/qt_text.h"
#include "runtime/widgets/accessible_lists.h"
#include "runtime/widgets/control_widgets.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <utility>

namespace vorsa::runtime {

namespace {

// The edit boxes, lists and buttons take the platform's default GUI font and a white ground when bound.
void use_gui_font(QWidget* widget)
{
    widget->setFont(at_template_resolution(QFontDatabase::systemFont(QFontDatabase::GeneralFont)));
}

// Text on the white ground: black, and a grey that still reads on white (5:1) where the control is
// disabled or shows a placeholder.
const QColor ground_text(Qt::black);
const QColor ground_grey_text(0x6d, 0x6d, 0x6d);

// The contrast ratio of two colours (from 1 to 21) as accessibility guidelines measure it; text reads
// on a ground from 4.5.
double contrast_ratio(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
constexpr double readable_contrast = 4.5;

// The theme's text for selected text when it reads on the theme's selection colour, else black or
// white, whichever reads better.
QColor selected_text(const QPalette& theme, QPalette::ColorGroup group)
{
    const QColor selection = theme.color(group, QPalette::Highlight);
    const QColor text = theme.color(group, QPalette::HighlightedText);
    if (contrast_ratio(text, selection) >= readable_contrast) return text;
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return contrast_ratio(black, selection) >= contrast_ratio(white, selection) ? black : white;
}

// Edit boxes and lists are white whatever the desktop's theme, so every role they draw text or ground
// with is set, in every state, to what a light theme has: a dark theme's light text never lands on the
// white ground. The selection keeps the theme's colour, with text that reads on it. A fixed list draws
// its closed face with the button colour and is white all over; an editable list keeps the theme's
// button beside its white field, with the theme's text on it.
void use_white_ground(QWidget* widget, bool button_face_too)
{
    QPalette palette = widget->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor text = group == QPalette::Disabled ? ground_grey_text : ground_text;
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::AlternateBase, Qt::white);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Window, Qt::white);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::PlaceholderText, ground_grey_text);
        palette.setColor(group, QPalette::HighlightedText, selected_text(palette, group));
        if (button_face_too) {
            palette.setColor(group, QPalette::Button, Qt::white);
            palette.setColor(group, QPalette::ButtonText, text);
        }
    }
    widget->setPalette(palette);
}

// A text the program sets shows from its first character, as in the platform's edit boxes; Qt leaves
// the cursor after the last one and scrolls the start out of a box too narrow for the whole text.
void show_from_start(QLineEdit* edit)
{
    if (edit) edit->setCursorPosition(0);
}

QString with_platform_line_breaks(QString text)
{
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

QString with_qt_line_breaks(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

} // namespace

QFont at_template_resolution(QFont font)
{
    const double points = font.pointSizeF();
    if (points > 0) font.setPixelSize(std::max(1, static_cast<int>(std::lround(points * 96.0 / 72.0))));
    return font;
}

MainDialog::MainDialog(const DialogTemplate& form)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    // Before any list exists: screen readers may ask for a list as soon as it is made.
    install_accessible_lists();
    form(*this);
    // The template's font, which the labels and group boxes show.
    setFont(at_template_resolution(font()));
    name_list_fields(*this);
    setFixedSize(size());
    setSizeGripEnabled(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);
    // No button of the form may answer Enter.
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

MainDialog::~MainDialog() = default;

void MainDialog::on_menu_command_event(std::function<void(int)> handler)
{
    m_menu_command = std::move(handler);
}

void MainDialog::deliver_menu_command(int command_id)
{
    if (m_menu_command) m_menu_command(command_id);
}

void MainDialog::post_menu_command(int command_id)
{
    QMetaObject::invokeMethod(
        this, [this, command_id] { deliver_menu_command(command_id); }, Qt::QueuedConnection);
}

QWidget* MainDialog::dialog_item(int id) const
{
    for (QWidget* child : findChildren<QWidget*>()) {
        const QVariant value = child->property(control_id_property);
        if (value.isValid() && value.toInt() == id) return child;
    }
    return nullptr;
}

bool MainDialog::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // A child that draws through OpenGL (the web view) makes Qt replace the shown window's native
    // window, and the new one comes up at 0,0 when no window manager places it. It goes back to where
    // the window is, centred on the screen.
    if (event->type() == QEvent::WinIdChange && isVisible() && windowHandle() &&
        windowHandle()->position() != geometry().topLeft())
        windowHandle()->setPosition(geometry().topLeft());
    return handled;
}

void MainDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // The window has one size. Qt's own title bar on native Wayland offers maximising whatever the
    // window's flags say, and a compositor that maximises it expects a window of the screen's size;
    // the request is taken back at once.
    constexpr Qt::WindowStates resized = Qt::WindowMaximized | Qt::WindowFullScreen;
    if (event->type() == QEvent::WindowStateChange && (windowState() & resized))
        setWindowState(windowState() & ~resized);
}

void MainDialog::keyPressEvent(QKeyEvent* event)
{
    // Keys that reach the window itself, not taken by a control: Enter and Esc become commands 1 and
    // 2, as the platform's dialog manager turns them into, and close nothing.
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() & ~Qt::KeypadModifier) break;
        event->accept();
        // A push button with the focus is the one Enter presses, as in the platform's dialogs.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
            button->click();
            return;
        }
        deliver_menu_command(command_enter);
        return;
    case Qt::Key_Escape:
        if (event->modifiers() != Qt::NoModifier) break;
        event->accept();
        deliver_menu_command(command_escape);
        return;
    default:
        break;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event)
{
    // No close handler: the close box ends the dialog at once.
    m_close_requested = true;
    event->accept();
    done(0);
}

std::unique_ptr<MainDialog> create_main_dialog(const DialogTemplate& form, const CreatedHandler& created)
{
    auto window = std::make_unique<MainDialog>(form);
    if (created) created(*window);
    return window;
}

int run_main_dialog(const DialogTemplate& form, const CreatedHandler& created)
{
    std::unique_ptr<MainDialog> window = create_main_dialog(form, created);
    if (window->close_requested()) return 0;
    return window->exec();
}

QtControlBase::~QtControlBase()
{
    for (const QMetaObject::Connection& connection : m_connections)
        QObject::disconnect(connection);
}

QWidget* QtControlBase::find_unbound(QWidget* parent, int id) const
{
    if (is_bound() || !parent) return nullptr;
    if (auto* dialog = qobject_cast<MainDialog*>(parent)) return dialog->dialog_item(id);
    for (QWidget* child : parent->findChildren<QWidget*>()) {
        const QVariant value = child->property(control_id_property);
        if (value.isValid() && value.toInt() == id) return child;
    }
    return nullptr;
}

void QtControlBase::show_widget(bool shown)
{
    if (m_widget) m_widget->setVisible(shown);
}

bool QtControlBase::widget_visible() const
{
    return m_widget && m_widget->isVisible();
}

bool QtEditBox::bind_control(QWidget* parent, int id)
{
    QWidget* item = find_unbound(parent, id);
    if (!item) return false;
    auto* line = qobject_cast<QLineEdit*>(item);
    auto* lines = qobject_cast<QPlainTextEdit*>(item);
    if (!line && !lines) return false;
    m_line = line;
    m_lines = lines;
    attach(item);
    use_gui_font(item);
    use_white_ground(item, false);
    return true;
}

QString QtEditBox::shown_text() const
{
    if (m_line) return m_line->text();
    if (m_lines) return m_lines->toPlainText();
    return {};
}

Text QtEditBox::get_control_text() const
{
    if (!m_line && !m_lines) return {};
    const QString shown = shown_text();
    if (shown == m_shown) return m_given;
    return from_qstring(m_lines ? with_platform_line_breaks(shown) : shown);
}

bool QtEditBox::set_control_text(const Text& text)
{
    if (m_line) {
        if (auto* limited = qobject_cast<WidthLimitedLineEdit*>(m_line.data()))
            limited->set_program_text(to_qstring(text));
        else
            m_line->setText(to_qstring(text));
        show_from_start(m_line);
    } else if (m_lines) {
        m_lines->setPlainText(with_qt_line_breaks(to_qstring(text)));
    } else {
        return false;
    }
    m_given = text;
    m_shown = shown_text();
    return true;
}

bool QtDropDownList::bind_control(QWidget* parent, int id)
{
    auto* box = qobject_cast<QComboBox*>(find_unbound(parent, id));
    if (!box) return false;
    m_box = box;
    attach(box);
    use_gui_font(box);
    use_white_ground(box, !box->isEditable());
    box->setInsertPolicy(QComboBox::NoInsert);
    if (box->isEditable()) box->setCompleter(nullptr);
    // The form gives the height of the list when dropped; show as many items as fit into it.
    const QVariant drop_height = box->property(drop_height_property);
    if (drop_height.isValid()) {
        const int item_height = box->fontMetrics().height() + 2;
        box->setMaxVisibleItems(std::max(1, (drop_height.toInt() - box->height()) / item_height));
    }
    keep(QObject::connect(box, &QComboBox::activated, box, [this](int) {
        if (m_changed) m_changed();
    }));
    return true;
}

Text QtDropDownList::get_control_text() const
{
    if (!m_box) return {};
    const int index = m_box->currentIndex();
    if (!m_box->isEditable()) return item_bytes(index);
    // A typed text that reads exactly as an item is that item.
    const QString typed = m_box->currentText();
    if (index >= 0 && m_box->itemText(index) == typed) return item_bytes(index);
    const int match = m_box->findText(typed, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return match >= 0 ? item_bytes(match) : from_qstring(typed);
}

bool QtDropDownList::set_control_text(const Text& text)
{
    if (!m_box || !m_box->isEditable()) return false;
    m_box->setEditText(to_qstring(text));
    show_from_start(m_box->lineEdit());
    return true;
}

int QtDropDownList::add_item(const Text& text)
{
    if (!m_box) return -1;
    // Qt selects the first item added to an empty list; the platform's list leaves the selection and
    // the typed text alone.
    const int selection = m_box->currentIndex();
    const QString typed = m_box->isEditable() ? m_box->currentText() : QString();
    // The item keeps the bytes it was added with: they are what the program stored, and GBK to UTF-16
    // and back changes bytes that are not valid GBK.
    m_box->addItem(to_qstring(text), QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    if (m_box->currentIndex() != selection) {
        m_box->setCurrentIndex(selection);
        if (m_box->isEditable()) m_box->setEditText(typed);
    }
    return m_box->count() - 1;
}

Text QtDropDownList::get_item_text(int index) const
{
    return item_bytes(index);
}

Text QtDropDownList::item_bytes(int index) const
{
    if (!m_box || index < 0 || index >= m_box->count()) return {};
    const QVariant bytes = m_box->itemData(index);
    if (bytes.typeId() != QMetaType::QByteArray) return from_qstring(m_box->itemText(index));
    const QByteArray data = bytes.toByteArray();
    return Text(data.constData(), static_cast<std::size_t>(data.size()));
}

int QtDropDownList::item_count() const
{
    return m_box ? m_box->count() : 0;
}

int QtDropDownList::get_selection() const
{
    return m_box ? m_box->currentIndex() : -1;
}

bool QtDropDownList::set_selection(int index)
{
    if (!m_box) return false;
    if (index < 0 || index >= m_box->count()) {
        m_box->setCurrentIndex(-1);
        // Clearing the selection of an editable list empties its edit field too.
        if (m_box->isEditable()) m_box->setEditText(QString());
        return false;
    }
    m_box->setCurrentIndex(index);
    if (m_box->isEditable()) {
        m_box->setEditText(m_box->itemText(index));
        show_from_start(m_box->lineEdit());
    }
    return true;
}

int QtDropDownList::delete_item(int index)
{
    if (!m_box || index < 0 || index >= m_box->count()) return -1;
    // Deleting the selected item leaves no selection (Qt would move it to a neighbour) and keeps the
    // text typed into an editable list.
    const int selection = m_box->currentIndex();
    const QString typed = m_box->isEditable() ? m_box->currentText() : QString();
    m_box->removeItem(index);
    const int kept = selection == index ? -1 : selection > index ? selection - 1 : selection;
    if (m_box->currentIndex() != kept) m_box->setCurrentIndex(kept);
    if (m_box->isEditable() && m_box->currentText() != typed) m_box->setEditText(typed);
    return m_box->count();
}

void QtDropDownList::clear_items()
{
    if (!m_box) return;
    m_box->clear();
    if (m_box->isEditable()) m_box->setEditText(QString());
}

namespace {

// The button of the click handler that runs now, when that click did not come from the mouse.
QPointer<QWidget> clicked_without_mouse;

// Notes whether the input that reaches a button comes from the mouse or the keyboard.
class InputSource : public QObject
{
public:
    InputSource(QObject* button, std::shared_ptr<bool> by_mouse)
        : QObject(button), m_by_mouse(std::move(by_mouse))
    {
        button->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            *m_by_mouse = true;
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            *m_by_mouse = false;
            break;
        default:
            break;
        }
        return false;
    }

private:
    std::shared_ptr<bool> m_by_mouse;
};

} // namespace

QWidget* button_clicked_without_mouse()
{
    return clicked_without_mouse;
}

bool QtPushButton::bind_control(QWidget* parent, int id)
{
    auto* button = qobject_cast<QPushButton*>(find_unbound(parent, id));
    if (!button) return false;
    attach(button);
    use_gui_font(button);
    button->setAutoDefault(false);
    button->setDefault(false);
    new InputSource(button, m_by_mouse);
    keep(QObject::connect(button, &QPushButton::clicked, button, [this, button] {
        // A click that no mouse input led to (keys, an assistive technology's press) is the keyboard
        // user's; the mark is used up, so a later press without input is not taken for the mouse's.
        const bool by_mouse = std::exchange(*m_by_mouse, false);
        const QPointer<QWidget> outer = clicked_without_mouse;
        clicked_without_mouse = by_mouse ? nullptr : button;
        if (m_clicked) m_clicked();
        clicked_without_mouse = outer;
    }));
    return true;
}

bool QtSpinControl::bind_control(QWidget* parent, int id)
{
    auto* arrows = qobject_cast<UpDownControl*>(find_unbound(parent, id));
    if (!arrows) return false;
    attach(arrows);
    keep(QObject::connect(arrows, &UpDownControl::delta_proposed, arrows, [this](int delta) {
        if (m_delta) m_delta(delta);
    }));
    return true;
}

UpDownControl* QtSpinControl::arrows() const
{
    return qobject_cast<UpDownControl*>(widget());
}

} // namespace vorsa::runtime
