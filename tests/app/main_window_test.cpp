// The main window end to end: the real form, the real controls and handlers on the offscreen platform,
// started in a directory of its own. Typing goes through key events, clicks through the mouse; message
// boxes are answered through the message-box seam.

#include "app/main_window.h"
#include "app/program.h"
#include "app/settings_keys.h"
#include "online/refresh.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"
#include "runtime/qt/control_widgets.h"
#include "runtime/qt/qt_interaction.h"
#include "runtime/qt/qt_text.h"
#include "runtime/settings.h"
#include "tests/app/refusing_printer.h"
#include "tests/online/local_http_server.h"
#include "tests/runtime/qt_test_app.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <array>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorsa::app {
namespace {

namespace fs = std::filesystem;
using namespace runtime::literals;
using runtime::Text;

constexpr LocalDate fifth_of_march_2015{2015, 3, 5};

StartOptions test_options()
{
    StartOptions options;
    options.today = [] { return fifth_of_march_2015; };
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

    void TearDown() override
    {
        m_window.reset();
        m_program.reset();
        runtime::set_message_box_answerer({});
        runtime::set_interaction(nullptr);
        fs::current_path(m_before);
        fs::remove_all(m_root);
    }

    void open(StartOptions options = test_options())
    {
        m_program = std::make_unique<MainWindow>(current_settings_path(), std::move(options));
        m_window = runtime::create_main_dialog(
            main_window_form, [this](runtime::MainDialog& window) { m_program->on_window_created(window); });
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        QCoreApplication::processEvents();
    }

    WindowControls& controls() { return m_program->controls(); }
    QImage board_picture() { return m_program->preview_board().off_screen_copy(); }
    int used_rows() { return m_program->receipt_lines().used_rows(); }

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
    std::unique_ptr<MainWindow> m_program;
    std::unique_ptr<runtime::MainDialog> m_window;
};

// The template's controls in tab order: identifier, object name.
const std::array<std::pair<int, const char*>, 28> template_controls = {{
    {1014, "group_1014"},         {1015, "group_1015"},         {1022, "settings_button"},
    {1004, "brand_box"},          {1001, "product_edit"},       {1024, "history_button"},
    {1008, "size_edit"},          {1012, "price_edit"},         {1011, "quantity_edit"},
    {1032, "clear_button"},       {1030, "add_preview_button"}, {1018, "shop_box"},
    {1019, "date_edit"},          {1021, "clerk_edit"},         {1028, "address_edit"},
    {1007, "printer_box"},        {1002, "print_button"},       {1003, "label_1003"},
    {1005, "label_1005"},         {1006, "label_1006"},         {1013, "label_1013"},
    {1010, "label_1010"},         {1029, "quantity_spin"},      {1016, "label_1016"},
    {1031, "remove_shop_button"}, {1017, "label_1017"},         {1020, "label_1020"},
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
            EXPECT_EQ(items[i]->font().pointSize(), 9);
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
    EXPECT_EQ(tab_order, (std::vector<int>{1022, 1004, 1001, 1024, 1008, 1012, 1011, 1032, 1030, 1018, 1019,
                                           1021, 1028, 1007, 1002, 1031}));
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

// With a vendor server the window shows at once while the start-up waits for the network, with its
// inputs disabled under a busy cursor; they come back when the brands are in.
TEST_F(MainWindowTest, OnlineStartShowsTheWindowDisabledWhileItWaits)
{
    online::testing::LocalHttpServer server;
    online::testing::Reply page;
    page.body = "<!--云途-->notice"_gbk;
    page.delay = std::chrono::milliseconds(1000); // the window is looked at after 150 ms
    server.set_reply(std::string(online::notice_page_path), page);

    StartOptions options = test_options();
    options.server_address = server.address();
    struct Seen
    {
        bool visible = false;
        bool enabled = true;
        bool busy = false;
    } seen;
    QTimer::singleShot(150, [&seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<runtime::MainDialog*>(widget)) {
                seen.visible = window->isVisible();
                seen.enabled = window->isEnabled();
            }
        }
        const QCursor* cursor = QGuiApplication::overrideCursor();
        seen.busy = cursor != nullptr && cursor->shape() == Qt::WaitCursor;
    });
    open(options);

    EXPECT_TRUE(seen.visible);
    EXPECT_FALSE(seen.enabled);
    EXPECT_TRUE(seen.busy);
    EXPECT_TRUE(m_window->isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(controls().brand_menu.menu_item_count(), 6);
}

// The close box pressed while the start-up waits ends the program once the start-up is over; the
// window does not come back.
TEST_F(MainWindowTest, CloseBoxDuringAnOnlineStartEndsTheProgram)
{
    online::testing::LocalHttpServer server;
    online::testing::Reply page;
    page.body = "notice";
    page.delay = std::chrono::milliseconds(1000); // the window is looked at after 150 ms
    server.set_reply(std::string(online::notice_page_path), page);

    StartOptions options = test_options();
    options.server_address = server.address();
    MainWindow program(current_settings_path(), std::move(options));
    QTimer::singleShot(150, [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<runtime::MainDialog*>(widget)) window->close();
    });
    // Should the window come back after all, this closes it again and records that it did.
    bool shown_again = false;
    QTimer::singleShot(5000, [&shown_again] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<runtime::MainDialog*>(widget); window && window->isVisible()) {
                shown_again = true;
                window->close();
            }
        }
    });
    EXPECT_EQ(
        runtime::run_main_dialog(
            main_window_form, [&program](runtime::MainDialog& window) { program.on_window_created(window); }),
        0);
    EXPECT_FALSE(shown_again);
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
    const receipt::ReceiptLines& lines = m_program->receipt_lines();
    EXPECT_EQ(lines.cell(1, receipt::Column::product), "跑鞋"_gbk);
    EXPECT_EQ(lines.cell(1, receipt::Column::size), "42");
    EXPECT_EQ(lines.cell(1, receipt::Column::unit_price), "199.00");
    EXPECT_EQ(lines.cell(1, receipt::Column::quantity), "2");
    EXPECT_EQ(lines.cell(1, receipt::Column::amount), "398.00");
    const receipt::ReceiptData first = m_program->receipt_data();
    EXPECT_EQ(first.receipt_number.rfind("XS80000035", 0), 0u);
    EXPECT_EQ(first.receipt_number.size(), 20u);
    EXPECT_EQ(first.total_text, "398.00");
    EXPECT_EQ(first.sale_date, "2015-03-05");
    const QImage one_line = board_picture();
    EXPECT_NE(one_line, title);

    add({"T恤", "L", "59", "1"});
    ASSERT_EQ(used_rows(), 2);
    EXPECT_EQ(m_program->receipt_data().total_text, "457.00");
    EXPECT_NE(m_program->receipt_data().receipt_number, first.receipt_number);
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
        EXPECT_EQ(m_program->receipt_data().receipt_number, "");
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
    const receipt::ReceiptData record = m_program->receipt_data();
    EXPECT_EQ(record.total_text, "500.00");

    c.product_edit.set_control_text("shoe 6");
    click(c.add_preview_button);
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].title, QStringLiteral("已满5条"));
    EXPECT_EQ(m_boxes[0].text, QStringLiteral("最多5条，已满5条，清除重来吧"));
    EXPECT_EQ(used_rows(), 5);
    EXPECT_EQ(m_program->receipt_lines().cell(5, receipt::Column::product), "shoe 5");
    EXPECT_EQ(m_program->receipt_data().receipt_number, record.receipt_number);
    EXPECT_EQ(board_picture(), full);
    EXPECT_EQ(c.history_menu.menu_item_count(), 5);

    click(c.clear_button);
    EXPECT_EQ(used_rows(), 0);
    EXPECT_EQ(m_program->receipt_data().total_text, "0.00");
    EXPECT_NE(m_program->receipt_data().receipt_number, record.receipt_number);
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
    printer.page = &m_program->board();
    controls().clerk_edit.set_control_text("李四"_gbk);
    click(controls().print_button);
    ASSERT_EQ(printer.asked.size(), 1u);
    EXPECT_EQ(printer.asked[0], std::optional<Text>("PDF"));
    // The shop values are saved before the printer is asked.
    EXPECT_EQ(runtime::read_setting(current_settings_path(), section_print, key_clerk), "李四"_gbk);
}

TEST_F(MainWindowTest, StartProgramRunsUntilTheCloseBoxAndSavesNothing)
{
    // An empty directory, and one whose settings file is not yet listed as hidden.
    for (const bool with_settings : {false, true}) {
        SCOPED_TRACE(with_settings);
        const fs::path directory = m_root / (with_settings ? "with" : "without");
        fs::create_directories(directory);
        if (with_settings)
            runtime::write_setting((directory / "dy.cfg").string(), section_print, key_clerk, "x");
        const fs::file_time_type written =
            with_settings ? fs::last_write_time(directory / "dy.cfg") : fs::file_time_type{};
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
        EXPECT_EQ(fs::exists(directory / "dy.cfg"), with_settings);
        EXPECT_EQ(fs::exists(directory / ".hidden"), with_settings);
        if (with_settings) {
            EXPECT_EQ(fs::last_write_time(directory / "dy.cfg"), written);
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

} // namespace
} // namespace vorsa::app
