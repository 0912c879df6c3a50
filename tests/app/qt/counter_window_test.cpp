// The main window end to end: the real form, the real controls and handlers on the offscreen platform,
// started in a directory of its own. Typing goes through key events, clicks through the mouse; message
// boxes are answered through the message-box seam.

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
#include "runtime/widgets/qt_interaction.h"
#include "tests/app/refusing_printer.h"
#include "tests/online/local_http_server.h"
#include "tests/runtime/qt/desktop_palette.h"
#include "tests/runtime/qt/qt_test_app.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/runtime/settings/file_writes.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
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

class MainWindowTest : public ::testing::Test
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
        m_root =
            fs::temp_directory_path() /
            ("vorsa-window-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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

TEST_F(MainWindowTest, FormHoldsTheTemplatesControlsAtOneAndAHalfPixelsPerDialogUnit)
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
TEST_F(MainWindowTest, EachControlDrawsInsideItsTemplateRectangle)
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
TEST_F(MainWindowTest, EveryControlsTextReadsOnItsGroundInLightAndDarkThemes)
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
TEST_F(MainWindowTest, ScreenReadersFindEachControlByName)
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
TEST_F(MainWindowTest, PreviewDescribesTheReceiptsText)
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
TEST_F(MainWindowTest, MenusOpenUnderTheirButtonFromTheKeyboard)
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

TEST_F(MainWindowTest, ShowsIconAndTitlePictureInThePreviewArea)
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

TEST_F(MainWindowTest, FirstStartInAnEmptyDirectory)
{
    open();
    WindowControls& c = controls();
    EXPECT_EQ(c.date_edit.get_control_text(), "2015-03-05");
    EXPECT_EQ(c.clerk_edit.get_control_text(), "");
    EXPECT_EQ(c.address_edit.get_control_text(), "");
    EXPECT_EQ(c.product_edit.get_control_text(), "");
    EXPECT_EQ(c.quantity_edit.get_control_text(), "1");
    EXPECT_EQ(c.shop_box.item_count(), 0);
    EXPECT_EQ(c.brand_box.item_count(), 0);
    EXPECT_EQ(c.brand_menu.menu_item_count(), 5);
    EXPECT_EQ(c.history_menu.menu_item_count(), 0);
    ASSERT_EQ(c.printer_box.item_count(), 2);
    EXPECT_EQ(c.printer_box.get_item_text(1), "PDF");
    EXPECT_EQ(c.printer_box.get_selection(), -1);

    // Starting and closing writes nothing.
    m_window->close();
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_FALSE(fs::exists(m_root / "start" / "dy.cfg"));
    EXPECT_FALSE(fs::exists(m_root / "start" / ".hidden"));
}

// The printers asked for after the first paint: the list arrives on its own, and the first key pressed
// before the spooler has answered waits for it, so no input ever meets a window without its printers.
// The spooler answers only once the test lets it, and then slowly, so a key that did not wait would
// meet an empty list however fast the machine is.
TEST_F(MainWindowTest, PrintersAskedForAfterThePaintAreInBeforeTheFirstInput)
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
TEST_F(MainWindowTest, OnlineStartShowsTheWindowDisabledWhileItWaits)
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

// What a start saves, the brands of the notice page and the remembered history made tidy, goes into one
// write of the settings file, with the bytes that writing them one after another leaves.
TEST_F(MainWindowTest, OnlineStartSavesItsValuesInOneWrite)
{
    online::testing::LocalHttpServer server;
    online::testing::Reply page;
    page.body = "<!--云途-->notice"_gbk;
    server.set_reply(std::string(online::notice_page_path), page);
    const std::string settings = current_settings_path();
    runtime::write_setting(settings, section_pingpai, key_online_brands, ",李宁"_gbk);
    runtime::write_setting(settings, section_ls, key_history, "|*||*|跑鞋|42|399.00"_gbk);
    const std::string before = test_files::read_bytes(settings);

    StartOptions options = test_options();
    options.server_address = server.address();
    test_files::FileWrites writes(settings);
    open(std::move(options));
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(runtime::read_setting(settings, section_pingpai, key_online_brands), ",云途"_gbk);
    EXPECT_EQ(runtime::read_setting(settings, section_ls, key_history), "|*|跑鞋|42|399.00"_gbk);

    const std::string one_by_one = settings + ".one_by_one";
    test_files::write_bytes(one_by_one, before);
    runtime::write_setting(one_by_one, section_pingpai, key_online_brands, ",云途"_gbk);
    runtime::write_setting(one_by_one, section_ls, key_history, "|*|跑鞋|42|399.00"_gbk);
    EXPECT_EQ(test_files::read_bytes(settings), test_files::read_bytes(one_by_one));
}

// An online start against a vendor server that does not give a complete answer in time, or that the
// user gives up on with the close box. Only a complete 2xx page is a notice page; anything else is the
// offline start (remembered brands, title picture, nothing written). Page and logos together end at the
// start's time limit whatever the server does; a logo that is not a complete 2xx answer by then is
// absent. The close box ends the start at once: nothing more is requested and nothing is written.
TEST_F(MainWindowTest, OnlineStartTakesOnlyCompleteAnswersAndEndsInTime)
{
    using namespace std::chrono_literals;
    using online::testing::Behaviour;
    using online::testing::Reply;
    constexpr auto limit = 1500ms;
    // A server that never completes its answer would hold the start for the inactivity time-out
    // without the limit, and a trickling one shows its page when it is through; the close box left
    // unheeded holds it until the limit, which is a long one in those rows. A start may take half a
    // minute beyond its limit, far beyond what a busy machine needs and far short of what a start that
    // ignored its limit or the close box would take.
    constexpr auto inactivity_timeout = 120s;
    constexpr auto long_limit = 120s;
    constexpr auto slack = 30s;

    const std::string notice = "<!--云途-->"_gbk + "<html>" + std::string(400, 'n') + "</html>";
    Reply page;
    page.body = notice;
    Reply server_error;
    server_error.status = 500;
    server_error.reason = "Internal Server Error";
    server_error.body = "<html><body><h1>500 Internal Server Error</h1><!-- nginx --></body></html>";
    Reply stalled = page;
    stalled.behaviour = Behaviour::stall;
    stalled.stall_after = 4;
    Reply silent;
    silent.behaviour = Behaviour::silent;
    Reply trickle = page;
    trickle.behaviour = Behaviour::drip;
    trickle.drip_interval = 20ms;
    Reply logo;
    logo.body = runtime::text_of(online::builtin_logos().at(1));
    Reply trickling_logo = logo;
    trickling_logo.behaviour = Behaviour::drip;
    trickling_logo.drip_interval = 20ms;
    // A picture, but under an error status, as servers answer with a placeholder image.
    Reply missing_logo = logo;
    missing_logo.status = 404;
    missing_logo.reason = "Not Found";

    struct Row
    {
        const char* what;
        Reply page;
        Reply logos;
        // The notice page came: shown, its brands stored.
        bool page_counts;
        // The online brands have their logos (none come once the page has used up the time).
        bool logos_come;
        // The close box, this long into the start.
        std::optional<std::chrono::milliseconds> close_at = std::nullopt;
        // Started without fetching sources, as an offline build starts: nothing is asked of the server.
        bool without_fetching = false;
    };
    const std::vector<Row> rows = {
        {"a 500 error page is the offline start", server_error, logo, false, true},
        {"headers and four bytes, then silence: offline start at the limit", stalled, logo, false, false},
        {"a silent server: offline start at the limit", silent, silent, false, false},
        {"a trickling page: offline start at the limit", trickle, logo, false, false},
        {"logos trickling past the limit are absent", page, trickling_logo, true, false},
        {"a logo under an error status is absent", page, missing_logo, true, false},
        {"closed while the page is awaited", silent, logo, false, false, 300ms},
        {"closed while the logos are awaited", page, silent, false, false, 300ms},
        {"no fetching sources: the offline start", page, logo, false, false, std::nullopt, true},
    };

    const fs::path settings = m_root / "start" / "dy.cfg";
    const std::string remembered = ",李宁,安踏"_gbk;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        online::testing::LocalHttpServer server;
        server.set_reply(std::string(online::notice_page_path), row.page);
        server.set_fallback(row.logos);
        fs::remove(settings);
        runtime::write_setting(settings.string(), section_pingpai, key_online_brands, remembered);
        runtime::write_setting(settings.string(), section_print, key_ticked_brands, "李宁|安踏|云途|"_gbk);
        const std::string before = test_files::read_bytes(settings);

        StartOptions options = test_options();
        options.server_address = server.address();
        options.online_time_limit = row.close_at ? long_limit : limit;
        options.online_inactivity_timeout = inactivity_timeout;
        if (row.without_fetching) options.online_sources = nullptr;
        std::vector<Text> shown;
        options.notice_view = [&shown](QWidget*, const Text& notice_page) -> runtime::Control* {
            shown.push_back(notice_page);
            return nullptr;
        };
        QElapsedTimer clock;
        qint64 closed_at = -1;
        std::size_t requests_at_close = 0;
        // The close box, once the window has been on the screen and the start has run for close_at.
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* window = qobject_cast<runtime::MainDialog*>(widget);
                    window && window->isVisible() && clock.elapsed() >= row.close_at->count()) {
                    closer.stop();
                    requests_at_close = server.request_count();
                    closed_at = clock.elapsed();
                    window->close();
                }
        });
        if (row.close_at) closer.start(10);
        clock.start();
        QtCounterWindow program(current_settings_path(), std::move(options));
        const std::unique_ptr<runtime::MainDialog> window = runtime::create_main_dialog(
            main_window_form, [&program](runtime::MainDialog& made) { program.on_window_created(made); });
        const qint64 ended_at = clock.elapsed();

        if (row.close_at) {
            EXPECT_GE(closed_at, 0) << "the window was never shown";
            EXPECT_TRUE(window->close_requested());
            EXPECT_LT(ended_at - closed_at, std::chrono::milliseconds(slack).count())
                << "the start went on after the close box";
            QTest::qWait(200); // room for a request that should not come
            EXPECT_EQ(server.request_count(), requests_at_close);
            EXPECT_EQ(test_files::read_bytes(settings), before);
            continue;
        }
        EXPECT_LT(ended_at, std::chrono::milliseconds(limit + slack).count());
        EXPECT_TRUE(window->isEnabled());
        if (row.without_fetching) {
            EXPECT_EQ(server.request_count(), 0u);
        }
        EXPECT_EQ(shown, row.page_counts ? std::vector<Text>{notice} : std::vector<Text>{});
        if (row.page_counts) {
            EXPECT_EQ(runtime::read_setting(settings.string(), section_pingpai, key_online_brands),
                      ",云途"_gbk);
        } else {
            EXPECT_EQ(test_files::read_bytes(settings), before);
        }
        const WindowControls& c = program.controls();
        const int brands = c.brand_menu.menu_item_count();
        EXPECT_EQ(brands, row.page_counts ? 6 : 7);
        if (brands > 5) {
            EXPECT_EQ(c.brand_menu.get_menu_item_text(5, true), row.page_counts ? "云途"_gbk : "李宁"_gbk);
        }
        const std::vector<runtime::Bytes>& logos = program.counter().ticked_logos();
        EXPECT_EQ(logos.size(), row.page_counts ? 1u : 2u);
        for (const runtime::Bytes& ticked : logos)
            EXPECT_EQ(!ticked.empty(), row.logos_come);
    }
}

// The close box pressed while an online start waits ends the process at once: the program's set-up in
// a child process of its own, against a server that never answers. Without heeding the close box the
// start would wait two minutes for the server; the process may take half a minute to go, far beyond
// what a busy machine needs.
TEST(OnlineStartProcessTest, CloseBoxDuringAnOnlineStartEndsTheProcessAtOnce)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path directory = fs::temp_directory_path() / "vorsa-online-close";
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

TEST_F(MainWindowTest, StartFromAnotherDirectoryReadsAndWritesItsSettings)
{
    const fs::path shop = m_root / "shop";
    fs::create_directories(shop);
    const std::string settings = (shop / "dy.cfg").string();
    runtime::write_setting(settings, section_print, key_clerk, "张三"_gbk);
    runtime::write_setting(settings, section_print, key_address, "东方路1号"_gbk);
    runtime::write_setting(settings, section_print, key_shops, "1,新世界百货,东方商场"_gbk);
    runtime::write_setting(settings, section_print, key_ticked_brands, "耐克|"_gbk);
    runtime::write_setting(settings, section_dayinji, key_printer, "PDF");
    fs::current_path(shop);
    open();

    WindowControls& c = controls();
    EXPECT_EQ(c.clerk_edit.get_control_text(), "张三"_gbk);
    EXPECT_EQ(c.address_edit.get_control_text(), "东方路1号"_gbk);
    EXPECT_EQ(c.shop_box.item_count(), 2);
    EXPECT_EQ(c.shop_box.get_control_text(), "东方商场"_gbk);
    EXPECT_EQ(c.printer_box.get_selection(), 1);
    EXPECT_EQ(c.brand_box.get_control_text(), "耐克"_gbk);

    add({"跑鞋", "42", "199", "1"});
    EXPECT_EQ(runtime::read_setting(settings, section_ls, key_history), "|*|跑鞋|42|199.00"_gbk);
    EXPECT_FALSE(fs::exists(m_root / "start" / "dy.cfg"));
}

TEST_F(MainWindowTest, AddPreviewAddsLinesAndRedrawsThePreview)
{
    open();
    const QImage title = board_picture();
    add({"跑鞋", "42", "199.9", "2"});
    ASSERT_EQ(used_rows(), 1);
    const receipt::ReceiptLines& lines = m_program->counter().receipt_lines();
    EXPECT_EQ(lines.cell(1, receipt::Column::product), "跑鞋"_gbk);
    EXPECT_EQ(lines.cell(1, receipt::Column::size), "42");
    EXPECT_EQ(lines.cell(1, receipt::Column::unit_price), "199.00");
    EXPECT_EQ(lines.cell(1, receipt::Column::quantity), "2");
    EXPECT_EQ(lines.cell(1, receipt::Column::amount), "398.00");
    const receipt::ReceiptData first = m_program->counter().receipt_data();
    EXPECT_EQ(first.receipt_number.rfind("XS80000035", 0), 0u);
    EXPECT_EQ(first.receipt_number.size(), 20u);
    EXPECT_EQ(first.total_text, "398.00");
    EXPECT_EQ(first.sale_date, "2015-03-05");
    const QImage one_line = board_picture();
    EXPECT_NE(one_line, title);

    add({"T恤", "L", "59", "1"});
    ASSERT_EQ(used_rows(), 2);
    EXPECT_EQ(m_program->counter().receipt_data().total_text, "457.00");
    EXPECT_NE(m_program->counter().receipt_data().receipt_number, first.receipt_number);
    EXPECT_NE(board_picture(), one_line);
    // The line went into the history as well.
    EXPECT_EQ(controls().history_menu.menu_item_count(), 2);
    EXPECT_EQ(controls().history_menu.get_menu_item_text(0, true), "T恤|L|59.00"_gbk);
    EXPECT_TRUE(m_boxes.empty());
    // The inputs keep their texts.
    EXPECT_EQ(controls().product_edit.get_control_text(), "T恤"_gbk);
}

TEST_F(MainWindowTest, EmptyProductOrSizeDoesNothing)
{
    open();
    const QImage title = board_picture();
    for (const Line& line : {Line{"", "42", "10", "1"}, Line{"跑鞋", "", "10", "1"}, Line{"", "", "", ""}}) {
        SCOPED_TRACE(std::string(line.product) + "/" + line.size);
        add(line);
        EXPECT_EQ(used_rows(), 0);
        EXPECT_EQ(m_program->counter().receipt_data().receipt_number, "");
        EXPECT_EQ(board_picture(), title);
        EXPECT_TRUE(m_boxes.empty());
        EXPECT_EQ(controls().history_menu.menu_item_count(), 0);
    }
}

TEST_F(MainWindowTest, SixthLineShowsTheMessageAndChangesNothingUntilCleared)
{
    open();
    WindowControls& c = controls();
    for (int i = 1; i <= 5; ++i) {
        c.product_edit.set_control_text("shoe " + std::to_string(i));
        c.size_edit.set_control_text("4" + std::to_string(i));
        c.price_edit.set_control_text("100");
        click(c.add_preview_button);
    }
    ASSERT_EQ(used_rows(), 5);
    const QImage full = board_picture();
    const receipt::ReceiptData record = m_program->counter().receipt_data();
    EXPECT_EQ(record.total_text, "500.00");

    c.product_edit.set_control_text("shoe 6");
    click(c.add_preview_button);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].title, QStringLiteral("已满5条"));
    EXPECT_EQ(m_boxes[0].text, QStringLiteral("最多5条，已满5条，清除重来吧"));
    EXPECT_EQ(used_rows(), 5);
    EXPECT_EQ(m_program->counter().receipt_lines().cell(5, receipt::Column::product), "shoe 5");
    EXPECT_EQ(m_program->counter().receipt_data().receipt_number, record.receipt_number);
    EXPECT_EQ(board_picture(), full);
    EXPECT_EQ(c.history_menu.menu_item_count(), 5);

    click(c.clear_button);
    EXPECT_EQ(used_rows(), 0);
    EXPECT_EQ(m_program->counter().receipt_data().total_text, "0.00");
    EXPECT_NE(m_program->counter().receipt_data().receipt_number, record.receipt_number);
    EXPECT_NE(board_picture(), full);
    // "清除" changes no control.
    EXPECT_EQ(c.product_edit.get_control_text(), "shoe 6");
    click(c.add_preview_button);
    EXPECT_EQ(used_rows(), 1);
    EXPECT_EQ(m_boxes.size(), 1u);
}

TEST_F(MainWindowTest, SpinArrowsStepTheQuantity)
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
    } cases[] = {
        {"1", down, "1"}, {"1", up, "2"}, {"999", up, "999"}, {"abc", up, "1"},   {"abc", down, "abc"},
        {"", up, "1"},    {"", down, ""}, {"5.7", up, "6"},   {"１２", up, "13"}, {"13", down, "12"},
    };
    runtime::UpDownControl* arrows = controls().quantity_spin.arrows();
    ASSERT_NE(arrows, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + (c.arrow == up ? " up" : " down"));
        controls().quantity_edit.set_control_text(runtime::gbk_from_utf8(c.before));
        QTest::mouseClick(c.arrow == up ? arrows->up_arrow() : arrows->down_arrow(), Qt::LeftButton);
        EXPECT_EQ(controls().quantity_edit.get_control_text(), runtime::gbk_from_utf8(c.after));
    }
}

TEST_F(MainWindowTest, EnterInTheMultiLineBoxesInsertsALineBreak)
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

TEST_F(MainWindowTest, EnterAndEscLeaveTheWindowOpen)
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

TEST_F(MainWindowTest, ProductBoxStopsAtItsWidth)
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

TEST_F(MainWindowTest, PrintButtonPrintsTheLastPreviewOnTheRememberedPrinter)
{
    testing::RefusingPrinter printer;
    runtime::write_setting(current_settings_path(), section_dayinji, key_printer, "PDF");
    StartOptions options = test_options();
    options.printer = &printer;
    open(options);
    printer.page = &m_program->counter().board();
    controls().shop_box.set_control_text("西单商场"_gbk);
    controls().clerk_edit.set_control_text("李四"_gbk);
    controls().address_edit.set_control_text("西单北大街120号"_gbk);
    test_files::FileWrites writes(current_settings_path());
    click(controls().print_button);
    // Shop list, clerk and address in one write.
    EXPECT_EQ(writes.count(), 1);
    ASSERT_EQ(printer.asked.size(), 1u);
    EXPECT_EQ(printer.asked[0], std::optional<Text>("PDF"));
    // The shop values are saved before the printer is asked.
    EXPECT_EQ(runtime::read_setting(current_settings_path(), section_print, key_clerk), "李四"_gbk);
}

TEST_F(MainWindowTest, StartProgramRunsUntilTheCloseBoxAndSavesNothing)
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
    const fs::path directory = fs::temp_directory_path() / "vorsa-window-fault";
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
