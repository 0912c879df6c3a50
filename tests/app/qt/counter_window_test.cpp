// The counter's window over Qt: the real form, its controls bound and handed to the counter on the
// offscreen platform, started in a directory of its own. What is proven here is the binding and what
// only real widgets show (the form, the picture, themes, screen readers, keys, the busy cursor, the
// program's start and end); what the counter does is proven over in-memory controls
// (tests/app/counter_test.cpp). Typing goes through key events, clicks through the mouse; message boxes
// are answered through the message-box seam, menus through the menu chooser.

#include "app/control_ids.h"
#include "app/qt/program.h"
#include "app/qt/program_platform.h"
#include "app/qt/qt_counter_window.h"
#include "online/qt/qt_sources.h"
#include "online/refresh.h"
#include "runtime/qt/qt_text.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/fatal.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/control_widgets.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/qt_interaction.h"
#include "tests/app/refusing_printer.h"
#include "tests/online/local_http_server.h"
#include "tests/runtime/qt/desktop_palette.h"
#include "tests/runtime/qt/qt_test_app.h"
#include "tests/runtime/settings/file_bytes.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
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

namespace vorsa::app {
namespace {

namespace fs = std::filesystem;
using namespace runtime::literals;
using runtime::Text;

constexpr LocalDate fifth_of_march_2015{2015, 3, 5};

// How long a wait for something the program does on its own may last before the test calls it lost:
// far beyond what a busy machine needs. The waits end as soon as it has happened.
constexpr int patience_ms = 60000;

StartOptions test_options()
{
    StartOptions options;
    options.today = [] { return fifth_of_march_2015; };
    options.online_sources = online::make_http_sources;
    options.printers = [](runtime::TextList& names) {
        names = {"Receipt-Printer", "PDF"};
        return 2;
    };
    return options;
}

// Types the text as the keyboard (or an input method, one character at a time) delivers it.
void type(QWidget* widget, const QString& text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(character));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

void click(const runtime::QtControlBase& button)
{
    QTest::mouseClick(button.widget(), Qt::LeftButton);
}

struct Line
{
    const char* product;
    const char* size;
    const char* price;
    const char* quantity;
};

struct Box
{
    QString title;
    QString text;
};

class CounterWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        runtime::testing::test_application();
        runtime::install_qt_interaction();
        runtime::set_message_box_answerer([this](QMessageBox& box) {
            m_boxes.push_back({box.windowTitle(), box.text()});
            return QMessageBox::Ok;
        });
        m_root = fs::temp_directory_path() /
                 ("vorsa-window-" + std::to_string(::getpid()) + "-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "start");
        m_before = fs::current_path();
        fs::current_path(m_root / "start");
    }

    // Puts every hook the test installs back when the test ends.
    ProgramPlatformGuard m_platform;

    void TearDown() override
    {
        m_window.reset();
        m_program.reset();
        fs::current_path(m_before);
        fs::remove_all(m_root);
    }

    void open(StartOptions options = test_options())
    {
        m_program = std::make_unique<QtCounterWindow>(current_settings_path(), std::move(options));
        m_window = runtime::create_main_dialog(
            main_window_form, [this](runtime::MainDialog& window) { m_program->on_window_created(window); });
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get(), patience_ms));
        QCoreApplication::processEvents();
    }

    WindowControls& controls() { return m_program->controls(); }
    QImage board_picture() { return m_program->preview_board().off_screen_copy(); }
    int used_rows() { return m_program->counter().receipt_lines().used_rows(); }

    // Empties the box and types the text into it.
    void retype(runtime::QtEditBox& box, const char* utf8)
    {
        box.set_control_text({});
        box.widget()->setFocus();
        type(box.widget(), QString::fromUtf8(utf8));
    }

    void add(const Line& line)
    {
        retype(controls().product_edit, line.product);
        retype(controls().size_edit, line.size);
        retype(controls().price_edit, line.price);
        retype(controls().quantity_edit, line.quantity);
        click(controls().add_preview_button);
    }

    // The arrow keys move the list's selection one entry at a time, as a user picks with the keyboard.
    static void pick(runtime::QtDropDownList& list, const char* utf8)
    {
        QComboBox* box = list.combo_box();
        const int wanted = box->findText(QString::fromUtf8(utf8));
        ASSERT_GE(wanted, 0) << "no entry " << utf8;
        box->setFocus();
        for (int guard = 0; box->currentIndex() != wanted && guard < 2 * box->count() + 2; ++guard)
            QTest::keyClick(box, box->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(box->currentIndex(), wanted);
    }

    // Clicks the button and picks the menu's item named `item` as the user would.
    void choose(runtime::QtPushButton& button, const char* item)
    {
        runtime::set_menu_chooser([&](QMenu& menu, const QPoint&) -> QAction* {
            for (QAction* action : menu.actions())
                if (action->text() == QString::fromUtf8(item)) return action;
            ADD_FAILURE() << "no menu item " << item;
            return nullptr;
        });
        click(button);
        // The chosen command reaches the window once the click's handler has returned.
        QCoreApplication::processEvents();
        runtime::set_menu_chooser({});
    }

    fs::path m_root;
    fs::path m_before;
    std::vector<Box> m_boxes;
    std::unique_ptr<QtCounterWindow> m_program;
    std::unique_ptr<runtime::MainDialog> m_window;
};

// The template's controls in tab order: identifier, object name.
const std::array<std::pair<int, const char*>, 28> template_controls = {{
    {1014, "group_1014"},
    {1015, "group_1015"},
    {control_id::settings_button, "settings_button"},
    {control_id::brand_box, "brand_box"},
    {control_id::product_edit, "product_edit"},
    {control_id::history_button, "history_button"},
    {control_id::size_edit, "size_edit"},
    {control_id::price_edit, "price_edit"},
    {control_id::quantity_edit, "quantity_edit"},
    {control_id::clear_button, "clear_button"},
    {control_id::add_preview_button, "add_preview_button"},
    {control_id::shop_box, "shop_box"},
    {control_id::date_edit, "date_edit"},
    {control_id::clerk_edit, "clerk_edit"},
    {control_id::address_edit, "address_edit"},
    {control_id::printer_box, "printer_box"},
    {control_id::print_button, "print_button"},
    {1003, "label_1003"},
    {1005, "label_1005"},
    {1006, "label_1006"},
    {1013, "label_1013"},
    {1010, "label_1010"},
    {control_id::quantity_spin, "quantity_spin"},
    {1016, "label_1016"},
    {control_id::remove_shop_button, "remove_shop_button"},
    {1017, "label_1017"},
    {1020, "label_1020"},
    {1027, "label_1027"},
}};

TEST_F(CounterWindowTest, FormHoldsTheTemplatesControlsAtOneAndAHalfPixelsPerDialogUnit)
{
    open();
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Vorsa小票打印系统 1.5"));
    EXPECT_EQ(m_window->size(), QSize(532, 415));
    EXPECT_EQ(m_window->minimumSize(), m_window->maximumSize());

    std::vector<QWidget*> items;
    for (QObject* child : m_window->children())
        if (child->property(runtime::control_id_property).isValid())
            items.push_back(static_cast<QWidget*>(child));
    ASSERT_EQ(items.size(), template_controls.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(template_controls[i].second);
        EXPECT_EQ(items[i]->property(runtime::control_id_property).toInt(), template_controls[i].first);
        EXPECT_EQ(items[i]->objectName(), QString::fromUtf8(template_controls[i].second));
        const QStringList units = items[i]->property("dialogUnits").toString().split(u',');
        ASSERT_EQ(units.size(), 4);
        const QRect rect = items[i]->geometry();
        EXPECT_EQ(rect.x(), units[0].toInt() * 3 / 2);
        EXPECT_EQ(rect.y(), units[1].toInt() * 3 / 2);
        EXPECT_EQ(rect.width(), units[2].toInt() * 3 / 2);
        // A closed drop-down list is one line high; the template's height includes the dropped list.
        if (!qobject_cast<QComboBox*>(items[i])) {
            EXPECT_EQ(rect.height(), units[3].toInt() * 3 / 2);
        }
        if (qobject_cast<QLabel*>(items[i]) || qobject_cast<QGroupBox*>(items[i])) {
            EXPECT_EQ(items[i]->font().family(), QStringLiteral("宋体"));
            EXPECT_EQ(items[i]->font().pixelSize(), 12); // 9 points at 96 dpi
        }
    }

    // Tab order follows the template; the spin control and the labels take no focus.
    std::vector<int> tab_order;
    QWidget* first = controls().settings_button.widget();
    QWidget* widget = first;
    do {
        const QVariant id = widget->property(runtime::control_id_property);
        if (id.isValid() && (widget->focusPolicy() & Qt::TabFocus)) tab_order.push_back(id.toInt());
        widget = widget->nextInFocusChain();
    } while (widget != first);
    using namespace control_id;
    EXPECT_EQ(tab_order, (std::vector<int>{settings_button, brand_box, product_edit, history_button,
                                           size_edit, price_edit, quantity_edit, clear_button,
                                           add_preview_button, shop_box, date_edit, clerk_edit, address_edit,
                                           printer_box, print_button, remove_shop_button}));
}

// The window's picture, control by control: what a control draws is the set of pixels that change when
// that control alone is hidden. It must lie inside the control's template rectangle (dialog units at 1.5
// pixels each, a closed drop-down list no higher than the template's dropped list), and a control with
// a frame draws that frame along the rectangle's edges. A group box's title sits at the top of its
// rectangle and the frame's top line crosses the title's line, as the platform draws group boxes.
TEST_F(CounterWindowTest, EachControlDrawsInsideItsTemplateRectangle)
{
    open();
    // No blinking text cursor may change the picture between two grabs.
    if (QWidget* focused = m_window->focusWidget()) focused->clearFocus();
    const auto picture = [this] {
        QCoreApplication::processEvents();
        return m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    };
    const QImage whole = picture();
    ASSERT_EQ(whole.size(), QSize(532, 415));
    for (QObject* child : m_window->children()) {
        auto* item = qobject_cast<QWidget*>(child);
        if (!item || !item->property(runtime::control_id_property).isValid()) continue;
        SCOPED_TRACE(item->objectName().toStdString());
        const QStringList units = item->property("dialogUnits").toString().split(u',');
        ASSERT_EQ(units.size(), 4);
        const QRect expected(units[0].toInt() * 3 / 2, units[1].toInt() * 3 / 2, units[2].toInt() * 3 / 2,
                             units[3].toInt() * 3 / 2);

        item->hide();
        const QImage without = picture();
        item->show();
        QRect drawn;
        for (int y = 0; y < whole.height(); ++y)
            for (int x = 0; x < whole.width(); ++x)
                if (whole.pixel(x, y) != without.pixel(x, y)) drawn |= QRect(x, y, 1, 1);
        ASSERT_FALSE(drawn.isEmpty());
        EXPECT_TRUE(expected.contains(drawn))
            << drawn.x() << "," << drawn.y() << " " << drawn.width() << "x" << drawn.height();
        if (qobject_cast<QLabel*>(item)) continue;

        // Framed controls: the frame runs along the left, top and right edges (and the bottom, but for a
        // closed drop-down list).
        constexpr int edge = 2;
        EXPECT_LE(drawn.left() - expected.left(), edge);
        EXPECT_LE(expected.right() - drawn.right(), edge);
        if (!qobject_cast<QComboBox*>(item)) {
            EXPECT_LE(expected.bottom() - drawn.bottom(), edge);
        }
        if (!qobject_cast<QGroupBox*>(item)) {
            EXPECT_LE(drawn.top() - expected.top(), edge);
            continue;
        }
        // The group box: its frame's left line runs unbroken from the middle of the title's line down.
        const int title_height = QFontMetrics(item->font()).height();
        std::vector<int> gaps;
        for (int y = expected.top() + title_height / 2 + 1; y <= expected.bottom() - edge; ++y) {
            bool on_line = false;
            for (int x = expected.left(); x < expected.left() + edge; ++x)
                on_line = on_line || whole.pixel(x, y) != without.pixel(x, y);
            if (!on_line) gaps.push_back(y);
        }
        EXPECT_TRUE(gaps.empty()) << "left line missing from y " << gaps.front() << " to " << gaps.back();
        EXPECT_LE(drawn.top() - expected.top(), title_height / 2);
    }
}

// Every control's text reads on its ground (4.5:1) under a light and a dark desktop theme, as the window
// renders it: the text's pixels are those that change when the control shows its text or none, and each
// is compared with the same pixel without the text. The edit boxes and lists stay white under either
// theme, with text that reads on white also while the window is disabled (during an online start); the
// receipt in the preview is black on white paper.
TEST_F(CounterWindowTest, EveryControlsTextReadsOnItsGroundInLightAndDarkThemes)
{
    using namespace runtime::testing;
    enum class Ground
    {
        theme, // the theme's colours; their contrast while disabled is the theme's business
        white, // the white ground of edit boxes and lists
        paper, // the receipt's white sheet
    };
    struct Sample
    {
        std::string name;
        QWidget* widget;
        Ground ground;
        double needed;
        std::function<void(bool shown)> show;
    };
    const QString sample_text = QStringLiteral("跑鞋42");
    // How each kind of control shows a text or none.
    const auto sample_of = [&](QWidget* item) -> Sample {
        Sample sample{item->objectName().toStdString(), item, Ground::theme, 4.5, {}};
        if (auto* label = qobject_cast<QLabel*>(item)) {
            sample.show = [label, text = label->text()](bool shown) {
                label->setText(shown ? text : QString());
            };
        } else if (auto* group = qobject_cast<QGroupBox*>(item)) {
            sample.show = [group, text = group->title()](bool shown) {
                group->setTitle(shown ? text : QString());
            };
        } else if (auto* button = qobject_cast<QAbstractButton*>(item)) {
            sample.show = [button, text = button->text()](bool shown) {
                button->setText(shown ? text : QString());
            };
        } else if (auto* line = qobject_cast<QLineEdit*>(item)) {
            sample.ground = Ground::white;
            sample.show = [line, &sample_text](bool shown) {
                line->setText(shown ? sample_text : QString());
            };
        } else if (auto* lines = qobject_cast<QPlainTextEdit*>(item)) {
            sample.ground = Ground::white;
            sample.show = [lines, &sample_text](bool shown) {
                lines->setPlainText(shown ? sample_text : QString());
            };
        } else if (auto* box = qobject_cast<QComboBox*>(item)) {
            sample.ground = Ground::white;
            if (box->count() == 0) box->addItem(sample_text);
            sample.show = [box, &sample_text](bool shown) {
                if (box->isEditable())
                    box->setEditText(shown ? sample_text : QString());
                else
                    box->setCurrentIndex(shown ? 0 : -1);
            };
        } else if (auto* arrows = qobject_cast<runtime::UpDownControl*>(item)) {
            sample.needed = 3.0;
            sample.show = [arrows](bool shown) {
                arrows->up_arrow()->setArrowType(shown ? Qt::UpArrow : Qt::NoArrow);
                arrows->down_arrow()->setArrowType(shown ? Qt::DownArrow : Qt::NoArrow);
            };
        }
        return sample;
    };

    const struct
    {
        const char* name;
        QPalette palette;
    } themes[] = {{"light theme", QApplication::style()->standardPalette()},
                  {"dark theme", dark_desktop_palette()}};
    for (const auto& theme : themes) {
        SCOPED_TRACE(theme.name);
        const DesktopPalette desktop(theme.palette);
        m_window.reset();
        m_program.reset();
        open();
        std::vector<Sample> samples;
        for (QObject* child : m_window->children())
            if (auto* item = qobject_cast<QWidget*>(child);
                item && item->property(runtime::control_id_property).isValid())
                samples.push_back(sample_of(item));
        ASSERT_EQ(samples.size(), template_controls.size());
        // The preview: the receipt without lines, then with one.
        samples.push_back({"preview", &m_program->preview_board(), Ground::paper, 4.5, [this](bool shown) {
                               if (shown)
                                   add({"跑鞋", "42", "199", "1"});
                               else
                                   click(controls().clear_button);
                           }});

        for (const bool enabled : {true, false}) {
            SCOPED_TRACE(enabled ? "enabled" : "disabled");
            m_window->setEnabled(enabled);
            for (const Sample& sample : samples) {
                if (!enabled && sample.ground != Ground::white) continue;
                SCOPED_TRACE(sample.name);
                ASSERT_TRUE(sample.show);
                const auto picture = [&] {
                    // No blinking text cursor may change the picture between the two grabs.
                    if (QWidget* focused = m_window->focusWidget()) focused->clearFocus();
                    QCoreApplication::processEvents();
                    return m_window->grab(sample.widget->geometry())
                        .toImage()
                        .convertToFormat(QImage::Format_RGB32);
                };
                sample.show(false);
                const QImage without = picture();
                sample.show(true);
                const QImage with = picture();
                double contrast = 0;
                std::map<QRgb, int> grounds;
                for (int y = 0; y < with.height(); ++y)
                    for (int x = 0; x < with.width(); ++x)
                        if (with.pixel(x, y) != without.pixel(x, y)) {
                            contrast =
                                std::max(contrast, contrast_ratio(with.pixel(x, y), without.pixel(x, y)));
                            ++grounds[without.pixel(x, y)];
                        }
                ASSERT_FALSE(grounds.empty()) << "the text draws nothing";
                EXPECT_GE(contrast, sample.needed);
                const QRgb ground =
                    std::max_element(grounds.begin(), grounds.end(), [](const auto& a, const auto& b) {
                        return a.second < b.second;
                    })->first;
                if (sample.ground == Ground::white) {
                    EXPECT_GE(relative_luminance(ground), 0.8) << std::hex << ground;
                }
                if (sample.ground == Ground::paper) {
                    EXPECT_EQ(ground, qRgb(255, 255, 255)) << std::hex << ground;
                }
            }
        }
        m_window->setEnabled(true);
    }
}

// What a screen reader learns of each control: its label's name, or for a control without a label a
// name that says what it does; its kind; its value. A list is not named by its value.
TEST_F(CounterWindowTest, ScreenReadersFindEachControlByName)
{
    open();
    WindowControls& c = controls();
    c.brand_box.add_item("耐克"_gbk);
    c.brand_box.set_selection(0);
    c.shop_box.set_control_text("新世界百货"_gbk);
    c.printer_box.set_selection(1);
    c.product_edit.set_control_text("跑鞋"_gbk);
    runtime::UpDownControl* arrows = c.quantity_spin.arrows();
    ASSERT_NE(arrows, nullptr);
    using Role = QAccessible::Role;
    const struct
    {
        const char* what;
        QObject* object;
        Role role;
        const char* name;
        const char* value; // nullptr: not checked
    } rows[] = {
        {"settings button", c.settings_button.widget(), Role::Button, "设置", nullptr},
        {"brand list", c.brand_box.widget(), Role::ComboBox, "品牌", "耐克"},
        {"product", c.product_edit.widget(), Role::EditableText, "商品", "跑鞋"},
        {"history button", c.history_button.widget(), Role::Button, "历史", nullptr},
        {"size", c.size_edit.widget(), Role::EditableText, "尺码", nullptr},
        {"price", c.price_edit.widget(), Role::EditableText, "现价", nullptr},
        {"quantity", c.quantity_edit.widget(), Role::EditableText, "数量", nullptr},
        {"upper arrow", arrows->up_arrow(), Role::Button, "数量加一", nullptr},
        {"lower arrow", arrows->down_arrow(), Role::Button, "数量减一", nullptr},
        {"clear button", c.clear_button.widget(), Role::Button, "清除", nullptr},
        {"add button", c.add_preview_button.widget(), Role::Button, "添加预览", nullptr},
        {"shop list", c.shop_box.widget(), Role::ComboBox, "店名", "新世界百货"},
        {"shop list's field", c.shop_box.combo_box()->lineEdit(), Role::EditableText, "店名", "新世界百货"},
        {"X", c.remove_shop_button.widget(), Role::Button, "删除店名", nullptr},
        {"date", c.date_edit.widget(), Role::EditableText, "日期", "2015-03-05"},
        {"clerk", c.clerk_edit.widget(), Role::EditableText, "店员", nullptr},
        {"address", c.address_edit.widget(), Role::EditableText, "店址", nullptr},
        {"printer list", c.printer_box.widget(), Role::ComboBox, "打印机", "PDF"},
        {"print button", c.print_button.widget(), Role::Button, "开始打印", nullptr},
        {"preview", &m_program->preview_board(), Role::Graphic, "小票预览", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_NE(row.object, nullptr);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(row.object);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), row.role);
        EXPECT_EQ(accessible->text(QAccessible::Name), QString::fromUtf8(row.name));
        if (row.value) {
            EXPECT_EQ(accessible->text(QAccessible::Value), QString::fromUtf8(row.value));
        }
    }
}

// The preview tells screen readers the receipt's text, line by line from the top, the texts of a line
// from the left; the title picture before the first preview has none.
TEST_F(CounterWindowTest, PreviewDescribesTheReceiptsText)
{
    open();
    QAccessibleInterface* preview = QAccessible::queryAccessibleInterface(&m_program->preview_board());
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->text(QAccessible::Description), QString());

    controls().shop_box.set_control_text("新世界百货"_gbk);
    controls().clerk_edit.set_control_text("李四"_gbk);
    controls().address_edit.set_control_text("东方路1号"_gbk);
    add({"跑鞋", "42", "199", "2"});
    const QString number = runtime::to_qstring(m_program->counter().receipt_data().receipt_number);
    EXPECT_EQ(
        preview->text(QAccessible::Description).split(u'\n'),
        (QStringList{QStringLiteral("授权经销商  新世界百货"), QStringLiteral("单据号         ") + number,
                     QStringLiteral("销售单日期     2015-03-05"), QStringLiteral("类别    正常"),
                     QStringLiteral("东方路1号"), QStringLiteral("营业员： 李四   班次： C"),
                     QStringLiteral("贵宾： N"), QStringLiteral("商品 尺码 单价 数量 金额"),
                     QStringLiteral("跑鞋 42 199.00 2 398.00"), QStringLiteral("合计： 398.00"),
                     QStringLiteral("收银： 398.00"), QStringLiteral("积分： 398.00"),
                     QStringLiteral("找零：   0.00"),
                     QStringLiteral("温馨提示：本小票为商品退换货凭证，请妥善保管"),
                     QStringLiteral("THANK YOU! WELCOME BACK AGAIN!"),
                     QStringLiteral("一联存根(白)   二联客户(红)   三联财务(黄)")}));

    // Each build replaces the text: no line of the receipt before.
    click(controls().clear_button);
    const QStringList cleared = preview->text(QAccessible::Description).split(u'\n');
    EXPECT_FALSE(cleared.contains(QStringLiteral("跑鞋 42 199.00 2 398.00")));
    EXPECT_FALSE(cleared.contains(QStringLiteral("单据号         ") + number));
    EXPECT_TRUE(cleared.contains(QStringLiteral("合计： 0.00")));
    EXPECT_EQ(cleared.size(), 15);
}

// "设置" and "历史" open their menus where the user is: under the button when it was pressed from the
// keyboard (Space, or Enter on the focused button), at the mouse pointer when it was clicked.
TEST_F(CounterWindowTest, MenusOpenUnderTheirButtonFromTheKeyboard)
{
    open();
    QMenu* shown = nullptr;
    QPoint shown_at;
    runtime::set_menu_chooser([&](QMenu& menu, const QPoint& at) -> QAction* {
        shown = &menu;
        shown_at = at;
        return nullptr;
    });
    QCursor::setPos(QPoint(500, 420));
    WindowControls& c = controls();
    const struct
    {
        const char* what;
        runtime::QtPushButton& button;
        runtime::QtPopupMenu& menu;
        std::optional<Qt::Key> key; // none: the mouse
    } rows[] = {
        {"设置, Space", c.settings_button, c.brand_menu, Qt::Key_Space},
        {"设置, Enter", c.settings_button, c.brand_menu, Qt::Key_Return},
        {"设置, mouse", c.settings_button, c.brand_menu, std::nullopt},
        {"历史, Space", c.history_button, c.history_menu, Qt::Key_Space},
        {"历史, Enter", c.history_button, c.history_menu, Qt::Key_Return},
        {"历史, mouse", c.history_button, c.history_menu, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        shown = nullptr;
        QWidget* button = row.button.widget();
        const QPoint under_button = button->mapToGlobal(QPoint(0, button->height()));
        QPoint expected = under_button;
        if (row.key) {
            button->setFocus();
            QTest::keyClick(button, *row.key);
        } else {
            QTest::mouseClick(button, Qt::LeftButton);
            expected = QCursor::pos();
            EXPECT_NE(expected, under_button);
        }
        EXPECT_EQ(shown, row.menu.menu());
        EXPECT_EQ(shown_at, expected);
    }
}

TEST_F(CounterWindowTest, ShowsIconAndTitlePictureInThePreviewArea)
{
    open();
    const QList<QSize> sizes = m_window->windowIcon().availableSizes();
    for (int side : {16, 32, 48})
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;

    runtime::DrawingBoard& board = m_program->preview_board();
    EXPECT_EQ(board.parentWidget(), m_window.get());
    EXPECT_EQ(board.geometry(), QRect(180, 8, 340, 400));
    EXPECT_TRUE(board.isVisible());
    const QImage shown = board_picture().scaled(340, 400);
    const runtime::Bytes jpeg = title_picture();
    const QImage title = QImage::fromData(jpeg.data(), static_cast<int>(jpeg.size()));
    ASSERT_EQ(title.size(), QSize(340, 400));
    for (QPoint at : {QPoint(10, 10), QPoint(170, 140), QPoint(170, 195), QPoint(300, 390)}) {
        const QColor expected = title.pixelColor(at);
        const QColor seen = shown.pixelColor(at);
        EXPECT_NEAR(seen.red(), expected.red(), 24) << at.x() << "," << at.y();
        EXPECT_NEAR(seen.blue(), expected.blue(), 24) << at.x() << "," << at.y();
    }
}

// Each control object is bound to the form's widget of its identifier, and what the user does with the
// widgets reaches the counter: typed texts, clicks, keyboard picks in the lists, menu choices.
TEST_F(CounterWindowTest, ControlsAreBoundAndTheirEventsReachTheCounter)
{
    const std::string settings = current_settings_path();
    runtime::write_setting(settings, section_print, key_shops, "0,新世界百货,东方商场"_gbk);
    runtime::write_setting(settings, section_print, key_ticked_brands, "耐克|阿迪达斯|"_gbk);
    runtime::write_setting(settings, section_ls, key_history, "|*|跑鞋|42|199.00"_gbk);
    testing::RefusingPrinter printer;
    StartOptions options = test_options();
    options.printer = &printer;
    open(options);
    printer.page = &m_program->counter().board();
    WindowControls& c = controls();
    Counter& counter = m_program->counter();

    {
        SCOPED_TRACE("bound");
        using namespace control_id;
        const std::pair<const runtime::QtControlBase*, int> bound[] = {
            {&c.product_edit, product_edit},
            {&c.size_edit, size_edit},
            {&c.price_edit, price_edit},
            {&c.quantity_edit, quantity_edit},
            {&c.shop_box, shop_box},
            {&c.date_edit, date_edit},
            {&c.clerk_edit, clerk_edit},
            {&c.address_edit, address_edit},
            {&c.quantity_spin, quantity_spin},
            {&c.brand_box, brand_box},
            {&c.printer_box, printer_box},
            {&c.add_preview_button, add_preview_button},
            {&c.print_button, print_button},
            {&c.clear_button, clear_button},
            {&c.remove_shop_button, remove_shop_button},
            {&c.settings_button, settings_button},
            {&c.history_button, history_button},
        };
        for (const auto& [control, id] : bound) {
            ASSERT_NE(control->widget(), nullptr) << id;
            EXPECT_EQ(control->widget(), m_window->dialog_item(id)) << id;
        }
        // The form's own text stays where the counter writes none.
        EXPECT_EQ(c.quantity_edit.get_control_text(), "1");
    }
    {
        SCOPED_TRACE("typed line, 添加预览");
        retype(c.product_edit, "短袖");
        retype(c.size_edit, "L");
        retype(c.price_edit, "59");
        retype(c.quantity_edit, "2");
        click(c.add_preview_button);
        const receipt::ReceiptLines& lines = counter.receipt_lines();
        ASSERT_EQ(lines.used_rows(), 1);
        EXPECT_EQ(lines.cell(1, receipt::Column::product), "短袖"_gbk);
        EXPECT_EQ(lines.cell(1, receipt::Column::size), "L");
        EXPECT_EQ(lines.cell(1, receipt::Column::unit_price), "59.00");
        EXPECT_EQ(lines.cell(1, receipt::Column::quantity), "2");
    }
    {
        SCOPED_TRACE("a brand picked with the keyboard gives the receipt its logo");
        pick(c.brand_box, "阿迪达斯");
        click(c.add_preview_button);
        ASSERT_EQ(counter.ticked_logos().size(), 2u);
        EXPECT_EQ(counter.receipt_data().logo_picture, counter.ticked_logos()[1]);
    }
    {
        SCOPED_TRACE("清除");
        click(c.clear_button);
        EXPECT_EQ(counter.receipt_lines().used_rows(), 0);
        EXPECT_EQ(counter.receipt_data().total_text, "0.00");
    }
    {
        SCOPED_TRACE("设置, then a brand");
        choose(c.settings_button, "新百伦");
        EXPECT_EQ(c.brand_box.item_count(), 3);
        EXPECT_EQ(c.brand_box.get_control_text(), "新百伦"_gbk);
    }
    {
        SCOPED_TRACE("历史, then an entry");
        choose(c.history_button, "跑鞋|42|199.00");
        EXPECT_EQ(c.product_edit.get_control_text(), "跑鞋"_gbk);
        EXPECT_EQ(c.size_edit.get_control_text(), "42");
    }
    {
        SCOPED_TRACE("a printer picked with the keyboard");
        pick(c.printer_box, "Receipt-Printer");
        EXPECT_EQ(runtime::read_setting(settings, section_dayinji, key_printer), "Receipt-Printer");
    }
    {
        SCOPED_TRACE("typed shop, clerk and address, 开始打印");
        QLineEdit* shop = c.shop_box.combo_box()->lineEdit();
        shop->clear();
        shop->setFocus();
        type(shop, QStringLiteral("百盛"));
        retype(c.clerk_edit, "店员丙");
        retype(c.address_edit, "南京路1号");
        click(c.print_button);
        EXPECT_EQ(printer.asked, (std::vector<std::optional<Text>>{Text("Receipt-Printer")}));
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_shops),
                  "2,新世界百货,东方商场,百盛"_gbk);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_clerk), "店员丙"_gbk);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_address), "南京路1号"_gbk);
    }
    {
        SCOPED_TRACE("X");
        click(c.remove_shop_button);
        EXPECT_EQ(runtime::read_setting(settings, section_print, key_shops), "1,新世界百货,东方商场"_gbk);
    }
    EXPECT_TRUE(m_boxes.empty());
}

// The window's first paint, first input and queue reach the counter: the printers asked for after the
// first paint arrive on their own, and the first key pressed before the spooler has answered waits for
// them, so no input ever meets a window without its printers.
// The spooler answers only once the test lets it, and then slowly, so a key that did not wait would
// meet an empty list however fast the machine is.
TEST_F(CounterWindowTest, PrintersAskedForAfterThePaintAreInBeforeTheFirstInput)
{
    runtime::write_setting(current_settings_path(), section_dayinji, key_printer, "PDF");
    for (const bool key_pressed_first : {true, false}) {
        SCOPED_TRACE(key_pressed_first ? "key pressed before the answer" : "no input");
        // Given at the latest when the case ends, should it fail before: the window waits for the
        // spooler's answer when it goes.
        struct Answer
        {
            std::promise<void> promise;
            bool given = false;
            void give()
            {
                if (!std::exchange(given, true)) promise.set_value();
            }
            ~Answer() { give(); }
        } answer;
        StartOptions options = test_options();
        options.printers_after_first_paint = true;
        options.printers = [asked = answer.promise.get_future().share()](runtime::TextList& names) {
            asked.wait();
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // a slow spooler
            names = {"Receipt-Printer", "PDF"};
            return 2;
        };
        open(std::move(options));
        WindowControls& c = controls();
        EXPECT_EQ(c.printer_box.item_count(), 0); // the spooler has not answered yet
        answer.give();
        if (key_pressed_first) {
            QTest::keyClick(c.product_edit.widget(), Qt::Key_A);
            EXPECT_EQ(c.product_edit.get_control_text(), "a");
        } else {
            EXPECT_TRUE(QTest::qWaitFor([&c] { return c.printer_box.item_count() == 2; }, patience_ms));
        }
        ASSERT_EQ(c.printer_box.item_count(), 2);
        EXPECT_EQ(c.printer_box.get_selection(), 1);
        m_window->close();
    }
}

// With a vendor server that keeps the start waiting the window shows while it waits, with its inputs
// disabled under a busy cursor; they come back when the brands are in. The server answers only once the
// waiting window has been seen, however long the machine takes to show it.
TEST_F(CounterWindowTest, OnlineStartShowsTheWindowDisabledWhileItWaits)
{
    online::testing::LocalHttpServer server;
    online::testing::Reply page;
    page.body = "<!--云途-->notice"_gbk;
    page.held = true;
    server.set_reply(std::string(online::notice_page_path), page);

    StartOptions options = test_options();
    options.server_address = server.address();
    // What the window looked like whenever it was seen on the screen during the start.
    struct Seen
    {
        bool visible = false;
        bool enabled = false;
        bool idle_cursor = false;
    } seen;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&seen, &server] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<runtime::MainDialog*>(widget);
            if (!window || !window->isVisible()) continue;
            seen.visible = true;
            seen.enabled = seen.enabled || window->isEnabled();
            const QCursor* cursor = QGuiApplication::overrideCursor();
            seen.idle_cursor = seen.idle_cursor || cursor == nullptr || cursor->shape() != Qt::WaitCursor;
            server.release();
        }
    });
    look.start(10);
    m_program = std::make_unique<QtCounterWindow>(current_settings_path(), std::move(options));
    m_window = runtime::create_main_dialog(
        main_window_form, [this](runtime::MainDialog& window) { m_program->on_window_created(window); });
    look.stop();

    EXPECT_TRUE(seen.visible);
    EXPECT_FALSE(seen.enabled);
    EXPECT_FALSE(seen.idle_cursor);
    EXPECT_TRUE(m_window->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(controls().brand_menu.menu_item_count(), 6);
}

// The close box pressed while an online start waits ends the process at once: the program's set-up in
// a child process of its own, against a server that never answers. Without heeding the close box the
// start would wait two minutes for the server; the process may take half a minute to go, far beyond
// what a busy machine needs.
TEST(OnlineStartProcessTest, CloseBoxDuringAnOnlineStartEndsTheProcessAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path directory =
        fs::temp_directory_path() / ("vorsa-online-close-" + std::to_string(::getpid()));
    const auto monotonic_ns = [] {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return now.tv_sec * 1000000000LL + now.tv_nsec;
    };
    const auto start_and_close = [&directory, &monotonic_ns] {
        fs::create_directories(directory);
        fs::current_path(directory);
        int code = 1;
        {
            online::testing::LocalHttpServer server;
            online::testing::Reply silent;
            silent.behaviour = online::testing::Behaviour::silent;
            server.set_fallback(silent);
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static char name[] = "vorsa-receipt";
            static char* argv[] = {name, nullptr};
            int argc = 1;
            QApplication application(argc, argv);
            runtime::install_qt_platform();
            runtime::install_qt_interaction();
            StartOptions options = test_options();
            options.server_address = server.address();
            options.online_time_limit = std::chrono::minutes(2);
            options.online_inactivity_timeout = std::chrono::minutes(2);
            // The close box, half a second after the window has shown.
            QTimer closer;
            QObject::connect(&closer, &QTimer::timeout, [&] {
                for (QWidget* widget : QApplication::topLevelWidgets())
                    if (auto* window = qobject_cast<runtime::MainDialog*>(widget);
                        window && window->isVisible()) {
                        closer.stop();
                        QTimer::singleShot(500, window, [window, &monotonic_ns] {
                            std::fprintf(stderr, "closed at %lld\n", monotonic_ns());
                            window->close();
                            // Should the window come back after all, this closes it again and says so.
                            QTimer::singleShot(8000, [] {
                                for (QWidget* top : QApplication::topLevelWidgets())
                                    if (auto* shown = qobject_cast<runtime::MainDialog*>(top);
                                        shown && shown->isVisible()) {
                                        std::fprintf(stderr, "shown again\n");
                                        shown->close();
                                    }
                            });
                        });
                    }
            });
            closer.start(10);
            code = start_program(options);
        }
        std::exit(code);
    };
    long long closed_at = 0;
    EXPECT_EXIT(start_and_close(), ::testing::ExitedWithCode(0),
                ::testing::Truly([&closed_at](const std::string& output) {
                    const auto at = output.find("closed at ");
                    if (at != std::string::npos) closed_at = std::atoll(output.c_str() + at + 10);
                    return output.find("shown again") == std::string::npos;
                }));
    const long long gone_at = monotonic_ns();
    EXPECT_GT(closed_at, 0) << "the window was never closed";
    EXPECT_LT(gone_at - closed_at, 30000000000LL) << "the process outlived the close box by half a minute";
    fs::remove_all(directory);
}

// The arrows reach the counter: the upper one raises the quantity, the lower one lowers it (the steps
// themselves are StepQuantity's).
TEST_F(CounterWindowTest, SpinArrowsStepTheQuantity)
{
    open();
    enum Arrow
    {
        up,
        down
    };
    const struct
    {
        const char* before;
        Arrow arrow;
        const char* after;
    } cases[] = {{"1", up, "2"}, {"13", down, "12"}};
    runtime::UpDownControl* arrows = controls().quantity_spin.arrows();
    ASSERT_NE(arrows, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + (c.arrow == up ? " up" : " down"));
        controls().quantity_edit.set_control_text(runtime::gbk_from_utf8(c.before));
        QTest::mouseClick(c.arrow == up ? arrows->up_arrow() : arrows->down_arrow(), Qt::LeftButton);
        EXPECT_EQ(controls().quantity_edit.get_control_text(), runtime::gbk_from_utf8(c.after));
    }
}

TEST_F(CounterWindowTest, EnterInTheMultiLineBoxesInsertsALineBreak)
{
    open();
    for (runtime::QtEditBox* box :
         {&controls().size_edit, &controls().price_edit, &controls().quantity_edit}) {
        box->set_control_text("42");
        auto* edit = static_cast<QPlainTextEdit*>(box->widget());
        edit->setFocus();
        edit->moveCursor(QTextCursor::End);
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(box->get_control_text(), "42\r\n");
    }
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(used_rows(), 0);
}

TEST_F(CounterWindowTest, EnterAndEscLeaveTheWindowOpen)
{
    open();
    controls().product_edit.set_control_text("跑鞋"_gbk);
    controls().size_edit.set_control_text("42");
    for (QWidget* widget :
         {controls().product_edit.widget(), controls().date_edit.widget(), controls().clerk_edit.widget()}) {
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Escape);
        EXPECT_TRUE(m_window->isVisible());
    }
    QTest::keyClick(m_window.get(), Qt::Key_Escape);
    EXPECT_TRUE(m_window->isVisible());
    EXPECT_EQ(used_rows(), 0);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CounterWindowTest, ProductBoxStopsAtItsWidth)
{
    open();
    auto* product = static_cast<runtime::WidthLimitedLineEdit*>(controls().product_edit.widget());
    product->setFocus();
    const QString long_name(30, u'跑');
    type(product, long_name);
    const QString kept = product->text();
    EXPECT_GT(kept.size(), 0);
    EXPECT_LT(kept.size(), long_name.size());
    EXPECT_TRUE(product->fits(kept));
    EXPECT_FALSE(product->fits(kept + u'跑'));
}

TEST_F(CounterWindowTest, StartProgramRunsUntilTheCloseBoxAndSavesNothing)
{
    // The start gives a read-only settings file of the user back its owner's write permission, which
    // the writer needs, and changes nothing else; another user's file keeps its mode.
    struct Start
    {
        const char* name;
        bool with_settings;
        fs::perms mode = fs::perms::none;
        bool of_another_user = false;
        fs::perms mode_after = fs::perms::none;
    };
    using enum fs::perms;
    const Start starts[] = {
        {"without", false},
        {"read-only", true, owner_read | group_read | others_read, false,
         owner_read | owner_write | group_read | others_read},
        {"owner-only", true, owner_read, false, owner_read | owner_write},
        {"another-users", true, owner_read | group_read | others_read, true,
         owner_read | group_read | others_read},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(start.name);
        const fs::path directory = m_root / start.name;
        const fs::path settings = directory / "dy.cfg";
        fs::create_directories(directory);
        if (start.with_settings) {
            runtime::write_setting(settings.string(), section_print, key_clerk, "x");
            fs::permissions(settings, start.mode);
            // Only root can give a file away; as another user the row has nothing to start from.
            if (start.of_another_user && ::chown(settings.c_str(), 65534, 65534) != 0) continue;
        }
        const fs::file_time_type written =
            start.with_settings ? fs::last_write_time(settings) : fs::file_time_type{};
        fs::current_path(directory);

        bool seen = false;
        QTimer::singleShot(0, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* window = qobject_cast<runtime::MainDialog*>(widget);
                if (!window || !window->isVisible()) continue;
                seen = true;
                auto* date = window->findChild<QLineEdit*>(QStringLiteral("date_edit"));
                EXPECT_EQ(date->text(), QStringLiteral("2015-03-05"));
                // Centred on its screen.
                const QPoint centre = window->screen()->availableGeometry().center();
                EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 40);
                window->close();
            }
        });
        EXPECT_EQ(start_program(test_options()), 0);
        EXPECT_TRUE(seen);
        EXPECT_EQ(fs::exists(settings), start.with_settings);
        EXPECT_EQ(fs::exists(directory / ".hidden"), start.with_settings);
        if (start.with_settings) {
            EXPECT_EQ(fs::last_write_time(settings), written);
            EXPECT_EQ(fs::status(settings).permissions(), start.mode_after);
            struct stat info = {};
            ASSERT_EQ(::stat(settings.c_str(), &info), 0);
            EXPECT_EQ(info.st_uid, start.of_another_user ? 65534u : ::geteuid());
        }
    }
}

// A fault of the command library while the program's window is open (here an index outside a table,
// from an event handler) shows the fault in a message box over the open window and then ends the
// program with exit code 1. Runs the program's own entry in a child process of its own, which makes
// the application itself; the box is answered through the message-box seam, which reports it on
// standard error.
TEST(ProgramFaultTest, FaultInTheWindowShowsAMessageBoxThenEndsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path directory =
        fs::temp_directory_path() / ("vorsa-window-fault-" + std::to_string(::getpid()));
    const auto run_program_until_fault = [&directory] {
        fs::create_directories(directory);
        fs::current_path(directory);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static char name[] = "vorsa-receipt";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        program_main(argc, argv, [](QApplication&) {
            runtime::set_message_box_answerer([](QMessageBox& box) {
                bool window_open = false;
                for (QWidget* widget : QApplication::topLevelWidgets())
                    window_open =
                        window_open || (qobject_cast<runtime::MainDialog*>(widget) && widget->isVisible());
                std::fprintf(stderr, "box%s%s: [%s] %s\n", window_open ? " over the open window" : "",
                             box.icon() == QMessageBox::Critical ? " with the error icon" : "",
                             box.windowTitle().toUtf8().constData(), box.text().toUtf8().constData());
                return QMessageBox::Ok;
            });
            // Once the window shows, a handler reads past the end of a table.
            auto* poll = new QTimer(QCoreApplication::instance());
            QObject::connect(poll, &QTimer::timeout, [] {
                for (QWidget* widget : QApplication::topLevelWidgets())
                    if (qobject_cast<runtime::MainDialog*>(widget) && widget->isVisible()) {
                        const std::vector<int> table;
                        runtime::element(table, 1);
                    }
            });
            poll->start(10);
        });
        std::fprintf(stderr, "the program ended normally\n");
    };
    EXPECT_EXIT(
        run_program_until_fault(), ::testing::ExitedWithCode(1),
        "box over the open window with the error icon: \\[error\\] program internal error number is 1\\. \n"
        "数组成员引用下标超出定义范围");
    fs::remove_all(directory);
}

// Hooks that say which one they are, read back from the std::function without running them.
struct NumberedChooser
{
    int number;
    QAction* operator()(QMenu&, const QPoint&) const { return nullptr; }
};
struct NumberedAnswerer
{
    int number;
    QMessageBox::StandardButton operator()(QMessageBox&) const { return QMessageBox::Ok; }
};

// The program's hooks beyond the core's come back with the guard too: the popup menu chooser, the
// message box answerer, the spooler's time limit and library, and the receipt numbers' last seed.
TEST(ProgramPlatformTest, GuardPutsBackEveryHookInstallReplaced)
{
    const auto numbered = [](int number) {
        ProgramPlatform platform = current_program_platform();
        platform.menu_chooser = NumberedChooser{number};
        platform.message_box_answerer = NumberedAnswerer{number};
        platform.spooler.time_limit = std::chrono::milliseconds(1000 + number);
        platform.spooler.library = "libcups-" + std::to_string(number) + ".so.2";
        platform.receipt.last_number_seed = static_cast<std::uint32_t>(number);
        return platform;
    };
    struct Observed
    {
        int chooser;  // 0: not a numbered one
        int answerer; // 0: not a numbered one
        std::chrono::milliseconds time_limit;
        std::string library;
        std::optional<std::uint32_t> last_number_seed;
        bool operator==(const Observed&) const = default;
    };
    const auto observe = [] {
        const ProgramPlatform now = current_program_platform();
        const auto* chooser = now.menu_chooser.target<NumberedChooser>();
        const auto* answerer = now.message_box_answerer.target<NumberedAnswerer>();
        return Observed{chooser ? chooser->number : 0, answerer ? answerer->number : 0,
                        now.spooler.time_limit, now.spooler.library, now.receipt.last_number_seed};
    };
    const Observed first{1, 1, std::chrono::milliseconds(1001), "libcups-1.so.2", 1u};
    const Observed second{2, 2, std::chrono::milliseconds(1002), "libcups-2.so.2", 2u};

    ProgramPlatformGuard outer; // leaves the binary's hooks as they were
    install_program_platform(numbered(1));
    EXPECT_EQ(observe(), first);
    {
        ProgramPlatformGuard inner;
        install_program_platform(numbered(2));
        EXPECT_EQ(observe(), second);
    }
    EXPECT_EQ(observe(), first);
}

} // namespace
} // namespace vorsa::app
