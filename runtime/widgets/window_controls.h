#pragma once
// The main window and its controls over Qt Widgets. The window is a fixed-size dialog filled from a
// form (the dialog template); the program keeps one control object per control and attaches it to
// the form's widget by the widget's "controlId" property. Events reach plain handlers registered on
// the objects. Texts cross this boundary as GBK.

#include "runtime/controls/controls.h"

#include <QComboBox>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <functional>
#include <memory>
#include <vector>

namespace vorsa::runtime {

class UpDownControl;

// Name of the dynamic property that carries a control's identifier in the form.
inline constexpr char control_id_property[] = "controlId";
// Name of the dynamic property that carries the height of a drop-down list's dropped list in pixels.
inline constexpr char drop_height_property[] = "dropHeight";

// Menu commands that the window itself produces: Enter and Esc, which close no window here.
inline constexpr int command_enter = 1;
inline constexpr int command_escape = 2;

// Fills a new dialog with its controls, its size and its title (uic's setupUi of the window's form).
using DialogTemplate = std::function<void(QDialog& dialog)>;

// A font in points as the window's fixed rectangles mean it: in logical pixels of a 96 dpi screen
// (9 points are 12 pixels), whatever font resolution the desktop asks for (QT_FONT_DPI, or Xft.dpi
// with Qt's scaling off), which would make the letters too large for their rectangles. On a denser
// screen Qt's scaling enlarges letters and rectangles alike. A font given in pixels stays as it is.
QFont at_template_resolution(QFont font);

// The main window: a dialog without owner, fixed at the form's size, with caption, system menu,
// minimise and close boxes but no maximise box, centred when first shown, on the button-face colour.
// A title bar that maximises it anyway (Qt's own on native Wayland) leaves it as it is.
// Enter and Esc never end it: they arrive as the menu commands 1 and 2 (Enter on a push button that
// has the focus presses that button). The close box ends it at once. Screen readers find its drop-down
// lists by their names (accessible_lists.h).
class MainDialog : public QDialog
{
    Q_OBJECT
public:
    explicit MainDialog(const DialogTemplate& form);
    ~MainDialog() override;

    // Called with every menu command: a choice in a popup menu, Enter (1), Esc (2).
    void on_menu_command_event(std::function<void(int command_id)> handler);
    // Hands a command to the menu-command handler now.
    void deliver_menu_command(int command_id);
    // Hands a command to the menu-command handler once the running handler has returned.
    void post_menu_command(int command_id);

    void set_window_icon(const QIcon& icon) { setWindowIcon(icon); }
    QIcon window_icon() const { return windowIcon(); }

    // The form's widget with this identifier, or nullptr.
    QWidget* dialog_item(int id) const;

    // True once the close box was pressed, also while the window was shown before its event loop ran.
    bool close_requested() const { return m_close_requested; }

public slots:
    // Nothing but the close box ends the window.
    void reject() override {}
    void accept() override {}

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void(int)> m_menu_command;
    bool m_close_requested = false;
};

// Called once with the new window after its controls exist and before it is first shown.
using CreatedHandler = std::function<void(MainDialog& window)>;

// Makes the window from the form and runs the created handler; the caller shows it.
std::unique_ptr<MainDialog> create_main_dialog(const DialogTemplate& form, const CreatedHandler& created);

// Makes the window, runs the created handler, shows the window modally and returns when it has been
// closed, with the dialog's result (0 after the close box). A handler that shows the window early and
// sees it closed ends the program without the window coming back.
int run_main_dialog(const DialogTemplate& form, const CreatedHandler& created);

// What every control object shares: the widget it is bound to (none before binding; operations on an
// unbound object affect nothing) and the visibility of that widget.
class QtControlBase
{
public:
    QWidget* widget() const { return m_widget; }
    bool is_bound() const { return !m_widget.isNull(); }

protected:
    QtControlBase() = default;
    ~QtControlBase();
    // The form's widget with `id` under `parent` when the object has no widget yet, else nullptr.
    QWidget* find_unbound(QWidget* parent, int id) const;
    void attach(QWidget* widget) { m_widget = widget; }
    void keep(QMetaObject::Connection connection) { m_connections.push_back(connection); }
    void show_widget(bool shown);
    bool widget_visible() const;

private:
    QPointer<QWidget> m_widget;
    std::vector<QMetaObject::Connection> m_connections;
};

// An edit box: a single-line edit (QLineEdit and WidthLimitedLineEdit) or a one-line-high multi-line
// edit (OneLineTextEdit), whose line breaks read and write as CR LF.
class QtEditBox : public EditBox, public QtControlBase
{
public:
    // Attaches the object to the edit box `id` of `parent`, switches it to the default GUI font on a
    // white ground. False when there is no such edit box or the object is bound already.
    bool bind_control(QWidget* parent, int id);

    void set_visible(bool shown) override { show_widget(shown); }
    bool is_visible() const override { return widget_visible(); }
    Text get_control_text() const override;
    bool set_control_text(const Text& text) override;

private:
    QString shown_text() const;

    QPointer<QLineEdit> m_line;
    QPointer<QPlainTextEdit> m_lines;
    // The last text set and how the box showed it: while the box still shows exactly that, its text is
    // the bytes set, also where GBK to UTF-16 and back would change them (bytes that are not valid GBK).
    Text m_given;
    QString m_shown;
};

// A drop-down list: editable (typed text of its own) or fixed (shows the selected item). It never
// sorts, never inserts what is typed, and adding items changes neither selection nor typed text.
class QtDropDownList : public DropDownList, public QtControlBase
{
public:
    bool bind_control(QWidget* parent, int id);

    void set_visible(bool shown) override { show_widget(shown); }
    bool is_visible() const override { return widget_visible(); }
    Text get_control_text() const override;
    // The edit field of an editable list; false for a fixed list.
    bool set_control_text(const Text& text) override;
    int add_item(const Text& text) override;
    Text get_item_text(int index) const override;
    int item_count() const override;
    int get_selection() const override;
    bool set_selection(int index) override;
    int delete_item(int index) override;
    void clear_items() override;
    // Raised when the user picks an item (also the one already selected), not by set_selection.
    void on_selection_changed(std::function<void()> handler) override { m_changed = std::move(handler); }

    QComboBox* combo_box() const { return m_box; }

private:
    // The bytes an item was added with (see add_item).
    Text item_bytes(int index) const;

    QPointer<QComboBox> m_box;
    std::function<void()> m_changed;
};

class QtPushButton : public PushButton, public QtControlBase
{
public:
    // Switches the button to the default GUI font; it never becomes a default button.
    bool bind_control(QWidget* parent, int id);

    void set_visible(bool shown) override { show_widget(shown); }
    bool is_visible() const override { return widget_visible(); }
    void on_click(std::function<void()> handler) override { m_clicked = std::move(handler); }

private:
    std::function<void()> m_clicked;
    // Whether the input that reached the button last came from the mouse; a click uses it up.
    std::shared_ptr<bool> m_by_mouse = std::make_shared<bool>(false);
};

// The push button whose click handler is running when that click came from the keyboard (Space, or
// Enter on the focused button) or from an assistive technology rather than the mouse; nullptr
// otherwise. A popup menu opened by such a click opens under the button, where the user is, instead of
// at the mouse pointer.
QWidget* button_clicked_without_mouse();

class QtSpinControl : public SpinControl, public QtControlBase
{
public:
    bool bind_control(QWidget* parent, int id);

    void set_visible(bool shown) override { show_widget(shown); }
    bool is_visible() const override { return widget_visible(); }
    void on_delta(std::function<void(int delta)> handler) override { m_delta = std::move(handler); }

    UpDownControl* arrows() const;

private:
    std::function<void(int)> m_delta;
};

} // namespace vorsa::runtime
