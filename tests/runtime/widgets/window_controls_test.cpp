// The window's controls over Qt Widgets, driven through real widgets on the offscreen platform: binding
// by identifier, the list operations, the events that reach handlers, the keys that must not close the
// window, popup menus and message boxes answered through their seams.

#include "runtime/qt/qt_platform.h"
#include "runtime/qt/qt_text.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/control_widgets.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/qt_interaction.h"
#include "runtime/widgets/widgets_platform.h"
#include "runtime/widgets/window_controls.h"
#include "tests/runtime/qt/desktop_palette.h"
#include "tests/runtime/qt/qt_test_app.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

// Texts and points as they read, in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QPoint& point, std::ostream* out)
{
    *out << '(' << point.x() << ", " << point.y() << ')';
}

namespace vorsa::runtime {
namespace {

using namespace literals;

enum : int
{
    id_line = 11,
    id_limited = 12,
    id_lines = 13,
    id_fixed_list = 21,
    id_editable_list = 22,
    id_button = 31,
    id_other_button = 32,
    id_spin = 41,
    id_label = 51,
    id_list_label = 52,
    id_unnamed_list = 23,
};

template <class Widget> Widget* place(Widget* widget, int id, QRect rect)
{
    widget->setProperty(control_id_property, id);
    widget->setGeometry(rect);
    return widget;
}

// A small form with one control of every kind.
void test_form(QDialog& dialog)
{
    dialog.resize(300, 220);
    dialog.setWindowTitle(QStringLiteral("form"));
    place(new QLineEdit(&dialog), id_line, {10, 10, 120, 20});
    place(new WidthLimitedLineEdit(&dialog), id_limited, {10, 35, 79, 18});
    place(new OneLineTextEdit(&dialog), id_lines, {10, 60, 114, 18});
    auto* fixed = place(new QComboBox(&dialog), id_fixed_list, {10, 85, 120, 20});
    auto* editable = place(new QComboBox(&dialog), id_editable_list, {10, 110, 120, 20});
    editable->setEditable(true);
    place(new QPushButton(QStringLiteral("go"), &dialog), id_button, {150, 10, 60, 24});
    place(new QPushButton(QStringLiteral("other"), &dialog), id_other_button, {150, 40, 60, 24});
    place(new UpDownControl(&dialog), id_spin, {150, 70, 18, 18});
    place(new QLabel(QStringLiteral("label"), &dialog), id_label, {150, 100, 60, 14});
    // For screen readers: a list with a name of its own, one named by its label, one with neither.
    fixed->setAccessibleName(QStringLiteral("打印机"));
    place(new QLabel(QStringLiteral("店&名"), &dialog), id_list_label, {150, 120, 60, 14})
        ->setBuddy(editable);
    place(new QComboBox(&dialog), id_unnamed_list, {10, 135, 120, 20});
}

class WindowControlsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testing::test_application();
        m_window = create_main_dialog(test_form, {});
    }

    void show()
    {
        m_window->show();
        // However long a busy machine takes; it returns as soon as the window is up.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get(), 60000));
        m_window->activateWindow();
        QCoreApplication::processEvents();
    }

    std::unique_ptr<MainDialog> m_window;
};

TEST_F(WindowControlsTest, BindsTheItemOfItsKindOnlyOnce)
{
    struct Case
    {
        const char* kind;
        int id;
        bool bound;
    };
    const Case cases[] = {
        {"edit", id_line, true},          {"edit", id_limited, true}, {"edit", id_lines, true},
        {"edit", id_fixed_list, false},   {"edit", 99, false},        {"list", id_fixed_list, true},
        {"list", id_editable_list, true}, {"list", id_line, false},   {"button", id_button, true},
        {"button", id_spin, false},       {"spin", id_spin, true},    {"spin", id_button, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.kind) + " " + std::to_string(c.id));
        QtEditBox edit;
        QtDropDownList list;
        QtPushButton button;
        QtSpinControl spin;
        auto bind = [&] {
            const std::string kind = c.kind;
            if (kind == "edit") return edit.bind_control(m_window.get(), c.id);
            if (kind == "list") return list.bind_control(m_window.get(), c.id);
            if (kind == "button") return button.bind_control(m_window.get(), c.id);
            return spin.bind_control(m_window.get(), c.id);
        };
        EXPECT_EQ(bind(), c.bound);
        // A second bind never takes another window.
        EXPECT_FALSE(bind());
    }
}

TEST_F(WindowControlsTest, UnboundObjectsAffectNothing)
{
    QtEditBox edit;
    QtDropDownList list;
    EXPECT_FALSE(edit.set_control_text("x"));
    EXPECT_EQ(edit.get_control_text(), "");
    EXPECT_FALSE(edit.is_visible());
    EXPECT_LT(list.add_item("x"), 0);
    EXPECT_EQ(list.item_count(), 0);
    EXPECT_EQ(list.get_selection(), -1);
    EXPECT_EQ(list.delete_item(0), -1);
    EXPECT_FALSE(list.set_selection(0));
}

// Binding gives edit boxes and lists the GUI font on white under any desktop theme, and every text
// they draw reads on its ground (4.5:1) in every state: black, grey where disabled, and on the theme's
// selection colour the theme's selected text or, where that does not read (the light theme's white on
// light blue), black or white. A fixed list's closed face is white too.
TEST_F(WindowControlsTest, BindingGivesEditsAndListsTheGuiFontOnWhite)
{
    using testing::contrast_ratio;
    const QFont gui_font = at_template_resolution(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    const struct
    {
        const char* name;
        QPalette palette;
    } themes[] = {{"light theme", QApplication::style()->standardPalette()},
                  {"dark theme", testing::dark_desktop_palette()}};
    const struct
    {
        QPalette::ColorRole text;
        QPalette::ColorRole ground;
        bool fixed_list_only;
    } pairs[] = {
        {QPalette::Text, QPalette::Base, false},
        {QPalette::PlaceholderText, QPalette::Base, false},
        {QPalette::WindowText, QPalette::Window, false},
        {QPalette::HighlightedText, QPalette::Highlight, false},
        {QPalette::ButtonText, QPalette::Button, true},
    };
    for (const auto& theme : themes) {
        SCOPED_TRACE(theme.name);
        const testing::DesktopPalette desktop(theme.palette);
        const std::unique_ptr<MainDialog> window = create_main_dialog(test_form, {});
        QtEditBox line;
        QtEditBox lines;
        QtDropDownList fixed;
        QtDropDownList editable;
        ASSERT_TRUE(line.bind_control(window.get(), id_line));
        ASSERT_TRUE(lines.bind_control(window.get(), id_lines));
        ASSERT_TRUE(fixed.bind_control(window.get(), id_fixed_list));
        ASSERT_TRUE(editable.bind_control(window.get(), id_editable_list));
        for (QWidget* widget : {line.widget(), lines.widget(), fixed.widget(), editable.widget()}) {
            SCOPED_TRACE(widget->metaObject()->className());
            const QPalette palette = widget->palette();
            EXPECT_EQ(widget->font(), gui_font);
            for (const QPalette::ColorGroup group :
                 {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                SCOPED_TRACE(group);
                EXPECT_EQ(palette.color(group, QPalette::Base), QColor(Qt::white));
                EXPECT_EQ(palette.color(group, QPalette::Highlight),
                          theme.palette.color(group, QPalette::Highlight));
                for (const auto& pair : pairs) {
                    if (pair.fixed_list_only && widget != fixed.widget()) continue;
                    SCOPED_TRACE(pair.text);
                    EXPECT_GE(contrast_ratio(palette.color(group, pair.text).rgb(),
                                             palette.color(group, pair.ground).rgb()),
                              4.5);
                }
            }
        }
        EXPECT_EQ(fixed.widget()->palette().color(QPalette::Button), QColor(Qt::white));
        // Unbound labels keep the window's font and ground.
        QWidget* label = window->dialog_item(id_label);
        EXPECT_EQ(label->font(), window->font());
        EXPECT_EQ(window->palette().color(QPalette::Window), window->palette().color(QPalette::Button));
    }
}

// What screen readers hear of a drop-down list: its accessible name, else its label's (without the
// mnemonic's mark), else its text as Qt has it on Linux; its value is the selected or typed text. An
// editable list's field carries the list's name. Pressing the list drops it down and closes it again.
TEST_F(WindowControlsTest, ScreenReadersNameListsByNameOrLabelNotByValue)
{
    const struct
    {
        const char* what;
        int id;
        const char* text;
        const char* name;
    } rows[] = {
        {"list with a name", id_fixed_list, "耐克", "打印机"},
        {"editable list with a label", id_editable_list, "新世界百货", "店名"},
        {"list with neither", id_unnamed_list, "PDF", "PDF"},
    };
    show();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QtDropDownList list;
        ASSERT_TRUE(list.bind_control(m_window.get(), row.id));
        const Text text = gbk_from_utf8(row.text);
        list.add_item(text);
        list.set_selection(0);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(list.widget());
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), QAccessible::ComboBox);
        EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(row.name));
        EXPECT_EQ(accessible->text(QAccessible::Value), QString::fromUtf8(row.text));

        const bool editable = list.combo_box()->isEditable();
        ASSERT_EQ(accessible->childCount(), editable ? 2 : 1);
        EXPECT_EQ(accessible->child(0)->object(), list.combo_box()->view());
        if (editable) {
            QAccessibleInterface* field = accessible->child(1);
            EXPECT_EQ(field->object(), list.combo_box()->lineEdit());
            EXPECT_EQ(accessible->indexOfChild(field), 1);
            EXPECT_EQ(field->text(QAccessible::Name), QString::fromUtf8(row.name));
            list.set_control_text("东方商场"_gbk);
            EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("东方商场"));
        }

        QAccessibleActionInterface* actions = accessible->actionInterface();
        ASSERT_NE(actions, nullptr);
        ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_TRUE(list.combo_box()->view()->isVisible());
        EXPECT_TRUE(accessible->state().expanded);
        actions->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_FALSE(list.combo_box()->view()->isVisible());
        EXPECT_FALSE(accessible->state().expanded);
    }
}

TEST_F(WindowControlsTest, FixedListOperations)
{
    QtDropDownList list;
    ASSERT_TRUE(list.bind_control(m_window.get(), id_fixed_list));
    for (const char* name : {"耐克", "阿迪达斯", "三叶草"})
        list.add_item(gbk_from_utf8(name));
    // Adding leaves the list without a selection.
    EXPECT_EQ(list.get_selection(), -1);
    EXPECT_EQ(list.add_item("新百伦"_gbk), 3);
    EXPECT_EQ(list.get_item_text(3), "新百伦"_gbk);
    EXPECT_EQ(list.get_item_text(4), "");
    EXPECT_EQ(list.get_item_text(-1), "");

    EXPECT_TRUE(list.set_selection(1));
    EXPECT_EQ(list.get_control_text(), "阿迪达斯"_gbk);
    EXPECT_FALSE(list.set_control_text("x"));
    EXPECT_FALSE(list.set_selection(-1));
    EXPECT_EQ(list.get_selection(), -1);
    EXPECT_EQ(list.get_control_text(), "");
    EXPECT_FALSE(list.set_selection(4));

    // Deleting the selected item leaves none selected; one before it moves the selection up.
    list.set_selection(2);
    EXPECT_EQ(list.delete_item(0), 3);
    EXPECT_EQ(list.get_selection(), 1);
    EXPECT_EQ(list.delete_item(1), 2);
    EXPECT_EQ(list.get_selection(), -1);
    EXPECT_EQ(list.delete_item(2), -1);
    list.clear_items();
    EXPECT_EQ(list.item_count(), 0);
}

TEST_F(WindowControlsTest, EditableListKeepsItsTypedText)
{
    QtDropDownList list;
    ASSERT_TRUE(list.bind_control(m_window.get(), id_editable_list));
    ASSERT_TRUE(list.set_control_text("东方商场"_gbk));
    // Qt would select the first item of an empty list and overwrite the field.
    EXPECT_EQ(list.add_item("新世界百货"_gbk), 0);
    EXPECT_EQ(list.get_selection(), -1);
    EXPECT_EQ(list.get_control_text(), "东方商场"_gbk);
    list.add_item("百盛"_gbk);

    EXPECT_TRUE(list.set_selection(1));
    EXPECT_EQ(list.get_control_text(), "百盛"_gbk);
    list.set_control_text("typed");
    EXPECT_EQ(list.delete_item(0), 1);
    EXPECT_EQ(list.get_control_text(), "typed");
    EXPECT_FALSE(list.set_selection(-1));
    EXPECT_EQ(list.get_control_text(), "");
    list.set_control_text("again");
    list.clear_items();
    EXPECT_EQ(list.get_control_text(), "");
}

// A text the program sets shows from its first character, however long it is, as the platform's edit
// boxes show it: the cursor stands before the first character, not after the last.
TEST_F(WindowControlsTest, ProgramTextsShowFromTheirFirstCharacter)
{
    const Text long_text = "新世界百货购物广场店东方路一千二百三十四号二楼西区"_gbk;
    QtEditBox line;
    QtEditBox limited;
    QtDropDownList editable;
    ASSERT_TRUE(line.bind_control(m_window.get(), id_line));
    ASSERT_TRUE(limited.bind_control(m_window.get(), id_limited));
    ASSERT_TRUE(editable.bind_control(m_window.get(), id_editable_list));
    show();
    editable.add_item(long_text);
    const struct
    {
        const char* name;
        QLineEdit* edit;
        std::function<void()> set;
    } rows[] = {
        {"edit box", qobject_cast<QLineEdit*>(line.widget()), [&] { line.set_control_text(long_text); }},
        {"limited edit box", qobject_cast<QLineEdit*>(limited.widget()),
         [&] { limited.set_control_text(long_text); }},
        {"editable list, typed text", editable.combo_box()->lineEdit(),
         [&] { editable.set_control_text(long_text); }},
        {"editable list, selected item", editable.combo_box()->lineEdit(),
         [&] { editable.set_selection(0); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NE(row.edit, nullptr);
        row.edit->setText(QStringLiteral("x"));
        row.set();
        QCoreApplication::processEvents();
        EXPECT_EQ(from_qstring(row.edit->text()), long_text);
        EXPECT_GT(row.edit->fontMetrics().horizontalAdvance(row.edit->text()), row.edit->width());
        EXPECT_EQ(row.edit->cursorPosition(), 0);
        EXPECT_LT(row.edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left(), row.edit->width() / 4);
    }
}

TEST_F(WindowControlsTest, SelectionChangeIsReportedForTheUserOnly)
{
    QtDropDownList list;
    ASSERT_TRUE(list.bind_control(m_window.get(), id_fixed_list));
    int changes = 0;
    list.on_selection_changed([&] { ++changes; });
    list.add_item("a");
    list.add_item("b");
    list.set_selection(0);
    EXPECT_EQ(changes, 0);

    show();
    list.widget()->setFocus();
    QTest::keyClick(list.widget(), Qt::Key_Down);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.get_selection(), 1);
}

TEST_F(WindowControlsTest, SpinArrowsProposeMinusOneAboveAndPlusOneBelow)
{
    QtSpinControl spin;
    ASSERT_TRUE(spin.bind_control(m_window.get(), id_spin));
    std::vector<int> deltas;
    spin.on_delta([&](int delta) { deltas.push_back(delta); });
    show();
    QTest::mouseClick(spin.arrows()->up_arrow(), Qt::LeftButton);
    QTest::mouseClick(spin.arrows()->down_arrow(), Qt::LeftButton);
    QTest::mouseClick(spin.arrows()->down_arrow(), Qt::LeftButton);
    EXPECT_EQ(deltas, (std::vector<int>{-1, +1, +1}));
    // The two arrows share the control's square, the upper one on top.
    EXPECT_LT(spin.arrows()->up_arrow()->geometry().bottom(), spin.arrows()->down_arrow()->geometry().top());
}

TEST_F(WindowControlsTest, EnterAndEscAreCommandsThatCloseNothing)
{
    QtEditBox line;
    QtPushButton button;
    QtPushButton other;
    ASSERT_TRUE(line.bind_control(m_window.get(), id_line));
    ASSERT_TRUE(button.bind_control(m_window.get(), id_button));
    ASSERT_TRUE(other.bind_control(m_window.get(), id_other_button));
    std::vector<int> commands;
    int clicks = 0;
    int other_clicks = 0;
    m_window->on_menu_command_event([&](int id) { commands.push_back(id); });
    button.on_click([&] { ++clicks; });
    other.on_click([&] { ++other_clicks; });
    show();

    line.widget()->setFocus();
    QTest::keyClick(line.widget(), Qt::Key_Return);
    QTest::keyClick(line.widget(), Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(line.widget(), Qt::Key_Escape);
    EXPECT_EQ(commands, (std::vector<int>{command_enter, command_enter, command_escape}));
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(m_window->isVisible());

    // Enter presses the focused button and no other; no button is the window's default.
    other.widget()->setFocus();
    QTest::keyClick(other.widget(), Qt::Key_Return);
    EXPECT_EQ(other_clicks, 1);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(commands.size(), 3u);
    EXPECT_TRUE(m_window->isVisible());
    m_window->reject();
    EXPECT_TRUE(m_window->isVisible());
}

TEST_F(WindowControlsTest, ClickReachesTheButtonsHandler)
{
    QtPushButton button;
    ASSERT_TRUE(button.bind_control(m_window.get(), id_button));
    int clicks = 0;
    button.on_click([&] { ++clicks; });
    show();
    QTest::mouseClick(button.widget(), Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(WindowControlsTest, WindowIsFixedWithoutMaximiseBox)
{
    show();
    EXPECT_EQ(m_window->minimumSize(), QSize(300, 220));
    EXPECT_EQ(m_window->maximumSize(), QSize(300, 220));
    const Qt::WindowFlags flags = m_window->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("form"));
    // What the platform sees: no maximise button, one size.
    QWindow* native = m_window->windowHandle();
    ASSERT_NE(native, nullptr);
    EXPECT_FALSE(native->flags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(native->minimumSize(), native->maximumSize());

    // A title bar that asks to maximise anyway (Qt's own on native Wayland) changes nothing.
    const struct
    {
        const char* name;
        Qt::WindowState state;
    } requests[] = {{"maximise", Qt::WindowMaximized}, {"full screen", Qt::WindowFullScreen}};
    for (const auto& request : requests) {
        SCOPED_TRACE(request.name);
        native->setWindowStates(request.state);
        QCoreApplication::processEvents();
        EXPECT_FALSE(m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen));
        EXPECT_FALSE(native->windowStates() & (Qt::WindowMaximized | Qt::WindowFullScreen));
        EXPECT_EQ(m_window->size(), QSize(300, 220));
    }
}

// Which platform plug-ins the program asks Qt for: X11 first, native Wayland as the fallback, unless
// the user chose one or there is no X display.
TEST(PreferredPlatform, X11FirstUnlessTheUserChose)
{
    const struct
    {
        const char* name;
        const char* chosen;
        const char* display;
        std::vector<const char*> arguments;
        const char* expected;
    } rows[] = {
        {"X display, no choice", "", ":0", {"vorsa-receipt"}, "xcb;wayland"},
        {"XWayland under a Wayland session", "", ":1", {"vorsa-receipt"}, "xcb;wayland"},
        {"chosen through the environment", "wayland", ":0", {"vorsa-receipt"}, ""},
        {"chosen offscreen", "offscreen", ":0", {"vorsa-receipt"}, ""},
        {"chosen on the command line", "", ":0", {"vorsa-receipt", "-platform", "wayland"}, ""},
        {"chosen on the command line, two dashes", "", ":0", {"vorsa-receipt", "--platform", "wayland"}, ""},
        {"no X display", "", "", {"vorsa-receipt"}, ""},
        {"other arguments only", "", ":0", {"vorsa-receipt", "-style", "fusion"}, "xcb;wayland"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<char*> arguments;
        for (const char* argument : row.arguments)
            arguments.push_back(const_cast<char*>(argument));
        EXPECT_EQ(preferred_qt_platform(row.chosen, row.display, arguments), row.expected);
    }
}

TEST(MainDialogRun, CloseBoxEndsTheDialogAtOnce)
{
    testing::test_application();
    int commands = 0;
    bool created = false;
    const int result = run_main_dialog(test_form, [&](MainDialog& window) {
        created = true;
        window.on_menu_command_event([&](int) { ++commands; });
        // The window exists but is not shown yet when the handler runs.
        EXPECT_FALSE(window.isVisible());
        QTimer::singleShot(0, &window, [&window] {
            EXPECT_TRUE(window.isVisible());
            window.close();
        });
    });
    EXPECT_TRUE(created);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(commands, 0);
}

TEST_F(WindowControlsTest, MultiLineBoxTakesEnterAsLineBreak)
{
    QtEditBox lines;
    ASSERT_TRUE(lines.bind_control(m_window.get(), id_lines));
    std::vector<int> commands;
    m_window->on_menu_command_event([&](int id) { commands.push_back(id); });
    show();
    lines.set_control_text("42");
    auto* edit = static_cast<QPlainTextEdit*>(lines.widget());
    edit->setFocus();
    edit->moveCursor(QTextCursor::End);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClicks(edit, QStringLiteral("x"));
    EXPECT_EQ(lines.get_control_text(), "42\r\nx");
    EXPECT_TRUE(commands.empty());
    // Line breaks come back in as they went out.
    lines.set_control_text("a\r\nb");
    EXPECT_EQ(edit->toPlainText(), QStringLiteral("a\nb"));
    EXPECT_EQ(lines.get_control_text(), "a\r\nb");
    EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(WindowControlsTest, LimitedEditStopsAtItsVisibleWidth)
{
    QtEditBox limited;
    ASSERT_TRUE(limited.bind_control(m_window.get(), id_limited));
    show();
    auto* edit = static_cast<WidthLimitedLineEdit*>(limited.widget());
    edit->setFocus();
    const QString typed(60, u'W');
    QTest::keyClicks(edit, typed);
    const QString kept = edit->text();
    EXPECT_FALSE(kept.isEmpty());
    EXPECT_LT(kept.size(), typed.size());
    EXPECT_TRUE(edit->fits(kept));
    EXPECT_FALSE(edit->fits(kept + u'W'));
    // Even a narrow character no longer goes in once the box is full.
    QTest::keyClicks(edit, QStringLiteral("iiiiiiii"));
    EXPECT_TRUE(edit->fits(edit->text()));
    // The program's own texts are not cut.
    limited.set_control_text(std::string(40, 'W'));
    EXPECT_EQ(limited.get_control_text(), std::string(40, 'W'));

    // A paste wider than the room left inserts the part that fits, at the cursor.
    const struct
    {
        const char* name;
        QString before;
        int cursor;
    } pastes[] = {{"into the empty box", {}, 0}, {"between two characters", QStringLiteral("ab"), 1}};
    const QString pasted = QStringLiteral("商品名称很长的一件运动服") + QString(40, u'W');
    for (const auto& paste : pastes) {
        SCOPED_TRACE(paste.name);
        limited.set_control_text(from_qstring(paste.before));
        edit->setCursorPosition(paste.cursor);
        QApplication::clipboard()->setText(pasted);
        QTest::keySequence(edit, QKeySequence::Paste);
        const QString head = paste.before.left(paste.cursor);
        const QString tail = paste.before.mid(paste.cursor);
        const QString kept_text = edit->text();
        ASSERT_TRUE(kept_text.startsWith(head) && kept_text.endsWith(tail)) << kept_text.toStdString();
        const QString inserted = kept_text.mid(head.size(), kept_text.size() - head.size() - tail.size());
        EXPECT_FALSE(inserted.isEmpty());
        EXPECT_TRUE(pasted.startsWith(inserted)) << inserted.toStdString();
        EXPECT_TRUE(edit->fits(kept_text));
        EXPECT_FALSE(edit->fits(head + pasted.left(inserted.size() + 1) + tail));
        EXPECT_EQ(edit->cursorPosition(), head.size() + inserted.size());
    }
}

TEST_F(WindowControlsTest, VisibilityFollowsTheWidget)
{
    QtPushButton button;
    ASSERT_TRUE(button.bind_control(m_window.get(), id_button));
    show();
    EXPECT_TRUE(button.is_visible());
    button.set_visible(false);
    EXPECT_FALSE(button.is_visible());
    EXPECT_TRUE(button.widget()->isHidden());
    button.set_visible(true);
    EXPECT_TRUE(button.is_visible());
}

// Popup menus: the user is played by a chooser that picks an item by its text, or dismisses the menu.
class PopupMenuTest : public WindowControlsTest
{
protected:
    void SetUp() override
    {
        WindowControlsTest::SetUp();
        m_window->on_menu_command_event([this](int id) { m_commands.push_back(id); });
        m_menu.set_owner(m_window.get());
        ASSERT_TRUE(m_menu.create_popup_menu());
        for (int i = 1; i <= 3; ++i)
            m_menu.append_menu_item("item " + std::to_string(i), 13245 + i);
    }

    WidgetsPlatformGuard m_platform; // puts the menu chooser back

    // Picks the item with this text the way the menu's own loop does, or dismisses the menu.
    void choose(const QString& text)
    {
        set_menu_chooser([this, text](QMenu& menu, const QPoint& at) -> QAction* {
            m_shown_at = at;
            for (QAction* action : menu.actions()) {
                if (action->text() != text) continue;
                // As QMenu::exec does with the item the user picks.
                action->trigger();
                return action;
            }
            return nullptr;
        });
    }

    QtPopupMenu m_menu;
    std::vector<int> m_commands;
    QPoint m_shown_at;
};

TEST_F(PopupMenuTest, ChosenItemArrivesAfterwardsAsOneMenuCommand)
{
    choose(QStringLiteral("item 2"));
    m_menu.show_popup_menu(40, 50);
    EXPECT_EQ(m_shown_at, QPoint(40, 50));
    // The choice is not delivered while the menu's call runs.
    EXPECT_TRUE(m_commands.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(m_commands, std::vector<int>{13247});
    QCoreApplication::processEvents();
    EXPECT_EQ(m_commands.size(), 1u);
}

// A button that opens the menu from its click handler: pressed from the keyboard (Space, or Enter on
// the focused button) or by an assistive technology, the menu drops down from the button; clicked with
// the mouse, it opens where the handler asks (the mouse pointer, in the program).
TEST_F(PopupMenuTest, MenuOfAButtonPressedWithoutTheMouseOpensUnderIt)
{
    QtPushButton button;
    ASSERT_TRUE(button.bind_control(m_window.get(), id_button));
    button.on_click([this] { m_menu.show_popup_menu(40, 50); });
    show();
    QWidget* widget = button.widget();
    const QPoint under_button = widget->mapToGlobal(QPoint(0, widget->height()));
    enum class Press
    {
        space,
        enter,
        mouse,
        assistive,
    };
    // In this order: the mouse's click must not make the assistive technology's press look like one.
    const struct
    {
        const char* what;
        Press press;
        QPoint at;
    } rows[] = {
        {"Space", Press::space, under_button},
        {"Enter", Press::enter, under_button},
        {"mouse", Press::mouse, QPoint(40, 50)},
        {"assistive technology", Press::assistive, under_button},
        {"mouse again", Press::mouse, QPoint(40, 50)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        choose(QString());
        m_shown_at = QPoint(-1, -1);
        widget->setFocus();
        switch (row.press) {
        case Press::space:
            QTest::keyClick(widget, Qt::Key_Space);
            break;
        case Press::enter:
            QTest::keyClick(widget, Qt::Key_Return);
            break;
        case Press::mouse:
            QTest::mouseClick(widget, Qt::LeftButton);
            break;
        case Press::assistive:
            QAccessible::queryAccessibleInterface(widget)->actionInterface()->doAction(
                QAccessibleActionInterface::pressAction());
            break;
        }
        EXPECT_TRUE(QTest::qWaitFor([this] { return m_shown_at != QPoint(-1, -1); }, 5000));
        EXPECT_EQ(m_shown_at, row.at);
    }
    // Outside a click handler the menu opens where it is asked to.
    m_menu.show_popup_menu(70, 80);
    EXPECT_EQ(m_shown_at, QPoint(70, 80));
}

TEST_F(PopupMenuTest, DismissingCallsNothing)
{
    choose(QString());
    m_menu.show_popup_menu(0, 0);
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_commands.empty());
}

TEST_F(PopupMenuTest, CheckMarksChangeOnlyWhenTheProgramSetsThem)
{
    EXPECT_TRUE(m_menu.set_menu_item_state(13247, menu_checked, false));
    EXPECT_EQ(m_menu.get_menu_item_state(1, true), menu_checked);
    EXPECT_EQ(m_menu.get_menu_item_state(13246, false), menu_unchecked);
    EXPECT_TRUE(m_menu.menu()->actions()[1]->isChecked());
    EXPECT_FALSE(m_menu.menu()->actions()[0]->isChecked());

    // Picking an item does not toggle its mark; the program does that in its handler.
    for (const char* text : {"item 2", "item 1"}) {
        choose(QString::fromUtf8(text));
        m_menu.show_popup_menu(0, 0);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(m_commands, (std::vector<int>{13247, 13246}));
    EXPECT_TRUE(m_menu.menu()->actions()[1]->isChecked());
    EXPECT_FALSE(m_menu.menu()->actions()[0]->isChecked());

    EXPECT_TRUE(m_menu.set_menu_item_state(1, menu_unchecked, true));
    EXPECT_EQ(m_menu.get_menu_item_state(13247, false), menu_unchecked);
    EXPECT_FALSE(m_menu.menu()->actions()[1]->isChecked());
}

TEST_F(PopupMenuTest, ItemsByPositionAndIdentifier)
{
    EXPECT_EQ(m_menu.menu_item_count(), 3);
    EXPECT_EQ(m_menu.get_menu_item_id(0), 13246);
    EXPECT_EQ(m_menu.get_menu_item_id(3), -1);
    EXPECT_EQ(m_menu.get_menu_item_text(13248, false), "item 3");
    EXPECT_EQ(m_menu.get_menu_item_text(0, true), "item 1");
    EXPECT_EQ(m_menu.get_menu_item_text(99, false), "");
    EXPECT_EQ(m_menu.get_menu_item_state(99, false), -1);
    EXPECT_FALSE(m_menu.set_menu_item_state(3, menu_checked, true));

    // One menu per object; destroying it makes room for a new, empty one.
    EXPECT_FALSE(m_menu.create_popup_menu());
    m_menu.destroy_popup_menu();
    EXPECT_EQ(m_menu.menu_item_count(), 0);
    EXPECT_FALSE(m_menu.append_menu_item("x", 1));
    EXPECT_TRUE(m_menu.create_popup_menu());
    EXPECT_TRUE(m_menu.append_menu_item("报表"_gbk, 13146));
    EXPECT_EQ(m_menu.menu()->actions()[0]->text(), QStringLiteral("报表"));
}

// Message boxes: the answerer reads the box and presses a button.
struct BoxCase
{
    int style;
    QMessageBox::StandardButton pressed;
    QMessageBox::StandardButtons offered;
    QMessageBox::Icon icon;
    int result;
};

class MessageBoxTest : public ::testing::Test
{
protected:
    void SetUp() override { testing::test_application(); }
    WidgetsPlatformGuard m_platform; // puts the answerer, the interaction and the fault handler back
};

TEST_F(MessageBoxTest, StyleChoosesButtonsAndIconAndTheAnswerIsThePlatformCodeMinusOne)
{
    using B = QMessageBox;
    const BoxCase cases[] = {
        {0x00, B::Ok, B::Ok, B::NoIcon, 0},
        {0x00, B::NoButton, B::Ok, B::NoIcon, 0},
        {0x01, B::Cancel, B::Ok | B::Cancel, B::NoIcon, 1},
        {0x01, B::NoButton, B::Ok | B::Cancel, B::NoIcon, 1},
        {0x12, B::Abort, B::Abort | B::Retry | B::Ignore, B::Critical, 2},
        {0x12, B::Retry, B::Abort | B::Retry | B::Ignore, B::Critical, 3},
        {0x12, B::Ignore, B::Abort | B::Retry | B::Ignore, B::Critical, 4},
        {0x23, B::Yes, B::Yes | B::No | B::Cancel, B::Question, 5},
        {0x34, B::No, B::Yes | B::No, B::Warning, 6},
        {0x45, B::Retry, B::Retry | B::Cancel, B::Information, 3},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.style);
        QMessageBox::StandardButtons offered;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        set_message_box_answerer([&](QMessageBox& box) {
            offered = box.standardButtons();
            icon = box.icon();
            return c.pressed;
        });
        EXPECT_EQ(show_message_box("x", c.style, "t"), c.result);
        EXPECT_EQ(offered, c.offered);
        EXPECT_EQ(icon, c.icon);
    }
}

TEST_F(MessageBoxTest, InteractionCommandsGoThroughQt)
{
    install_qt_interaction();
    QString title;
    QString text;
    bool owned = true;
    set_message_box_answerer([&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        owned = box.parent() != nullptr;
        return QMessageBox::Ok;
    });
    EXPECT_EQ(message_box("最多5条，已满5条，清除重来吧"_gbk, mb_ok, "已满5条"_gbk), 0);
    EXPECT_EQ(title, QStringLiteral("已满5条"));
    EXPECT_EQ(text, QStringLiteral("最多5条，已满5条，清除重来吧"));
    EXPECT_FALSE(owned);
    message_box("a\r\nb");
    EXPECT_EQ(title, QStringLiteral("信息"));
    EXPECT_EQ(text, QStringLiteral("a\nb"));

    // Queued events run inside the command, not later.
    bool ran = false;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ran = true; }, Qt::QueuedConnection);
    process_pending_events();
    EXPECT_TRUE(ran);
}

TEST_F(MessageBoxTest, FaultIsShownWithErrorIconAndOk)
{
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons offered;
    set_message_box_answerer([&](QMessageBox& box) {
        title = box.windowTitle();
        icon = box.icon();
        offered = box.standardButtons();
        return QMessageBox::Ok;
    });
    show_fault_message("error", "内存不足"_gbk);
    EXPECT_EQ(title, QStringLiteral("error"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(offered, QMessageBox::StandardButtons(QMessageBox::Ok));
}

} // namespace
} // namespace vorsa::runtime
