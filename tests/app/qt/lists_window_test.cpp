// The remembered lists through the real window on the offscreen platform, where only real widgets show
// what happens: names that are not GBK in the real popup menu (its chooser seam picks the item the user
// would click) and boxes, shops typed and pasted into the real editable drop-down list, Enter typed
// into a box and Enter and Esc pressed. Each case starts in a directory of its own from the settings it
// names, runs its steps (a restart closes the window and starts the program again over the same
// settings file) and compares what the window shows and the file holds, written as text. What the
// lists do is proven over in-memory controls (tests/app/lists_test.cpp, counter_lists_test.cpp).

#include "app/qt/program_platform.h"
#include "app/qt/qt_counter_window.h"
#include "runtime/qt/qt_text.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "runtime/widgets/popup_menu.h"
#include "runtime/widgets/qt_interaction.h"
#include "tests/app/refusing_printer.h"
#include "tests/runtime/qt/qt_test_app.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace vorsa::app {
namespace {

namespace fs = std::filesystem;
using runtime::Text;

std::string utf8(const Text& gbk)
{
    return runtime::utf8_from_gbk(gbk);
}
Text gbk(const std::string& utf8_text)
{
    return runtime::gbk_from_utf8(utf8_text);
}

std::string joined(const std::vector<std::string>& parts, const char* separator = ",")
{
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i)
        result += (i ? separator : "") + parts[i];
    return result;
}

std::vector<std::string> fields_of(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(text.substr(start, bar - start));
    fields.push_back(text.substr(start));
    return fields;
}

// What the user does. `text` names the menu item, shop, printer or brand, or holds the line
// "product|size|price|quantity" of an add, or "product|size|price" typed into the three boxes.
enum class Do
{
    tick,           // "设置", then the brand's item in the brand menu
    choose_history, // "历史", then the entry's item in the history menu
    type_inputs,    // types into product, size and price
    add,            // types the line and clicks "添加预览"; "\n" is the Enter key
    add_as_shown,   // clicks "添加预览" with the boxes as they are
    type_shop,      // replaces the shop field's text by typing
    paste_shop,     // replaces the shop field's text by pasting it from the clipboard
    print,          // "开始打印"
    enter,          // Enter in the product box, which reaches the window as command 1
    escape,         // Esc in the product box: command 2
    restart,        // closes the window and starts the program again in the same directory
};

struct Step
{
    Do what;
    std::string text = {};
};

// What is compared afterwards.
enum class Look
{
    brands,        // brand list entries, the selected one in [ ]
    ticked_items,  // the checked items of the brand menu
    shops,         // shop list entries, the selected one in [ ], then "/" and the field's text
    history,       // the history menu's items
    history_count, // their number
    inputs,        // product|size|price as the boxes show them
    pplist,        // values in the settings file
    dm,
    yyy,
    ls,
};

struct Setting
{
    std::string_view section;
    std::string_view key;
    std::string value;
    bool raw = false; // the value's bytes as they are, not UTF-8 to convert
};

struct Expect
{
    Look what;
    std::string value;
};

struct Case
{
    const char* name;
    std::vector<Setting> given;
    std::vector<Step> steps;
    std::vector<Expect> expect;
};

// A failing case names itself instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

const std::vector<Case> cases = {
    // A name that is not GBK shows with U+FFFD; what is stored is the vendor's bytes.
    {"BrandNameThatIsNoGbkStaysTickedAfterARestart",
     {{section_pingpai, key_online_brands, ",\xFFSport", true}},
     {{Do::tick, "\uFFFDSport"}, {Do::restart}},
     {{Look::ticked_items, "\uFFFDSport"}, {Look::brands, "[\uFFFDSport]"}, {Look::pplist, "\uFFFDSport|"}}},
    // What is typed into the shop field is read, and the list takes no entry of its own making.
    {"PrintingAddsTheTypedShopUnselectedAndStoresItsIndex",
     {{section_print, key_shops, "0,新世界百货"}},
     {{Do::type_shop, "东方商场"}, {Do::print}},
     {{Look::dm, "1,新世界百货,东方商场"}, {Look::shops, "[新世界百货],东方商场/东方商场"}}},
    // Leaving the field for the button selects the entry equal to the typed name, so the stored index is
    // the printed shop's and the next start shows the shop last printed with.
    {"PrintingATypedKnownShopStoresItsIndex",
     {{section_print, key_shops, "0,新世界百货,东方商场"}},
     {{Do::type_shop, "东方商场"}, {Do::print}, {Do::restart}},
     {{Look::dm, "1,新世界百货,东方商场"}, {Look::shops, "新世界百货,[东方商场]/东方商场"}}},
    {"ShopAndClerkThatAreNoGbkAreWrittenBackAsStored",
     {{section_print, key_shops, "0,\xFFShop", true}, {section_print, key_clerk, "\xFFYuan", true}},
     {{Do::print}, {Do::restart}},
     {{Look::dm, "0,\uFFFDShop"}, {Look::yyy, "\uFFFDYuan"}, {Look::shops, "[\uFFFDShop]/\uFFFDShop"}}},
    // A value stored with a line break would be cut at it; the break is stored as a blank.
    {"ShopPastedWithALineBreakIsStoredWithABlank",
     {},
     {{Do::paste_shop, "东方\n商场"}, {Do::print}, {Do::restart}},
     {{Look::dm, "0,东方 商场"}, {Look::shops, "[东方 商场]/东方 商场"}}},
    // Enter in the size box; the receipt line keeps the break, the stored entry holds a blank instead.
    {"LineBreakTypedIntoTheSizeKeepsTheOlderEntries",
     {{section_ls, key_history, "|*|a|1|1.00|*|b|1|1.00|*|c|1|1.00"}},
     {{Do::add, "跑鞋|4\n2\n|199|1"}, {Do::restart}},
     {{Look::ls, "|*|跑鞋|4 2 |199.00|*|a|1|1.00|*|b|1|1.00|*|c|1|1.00"}, {Look::history_count, "4"}}},
    {"HistoryEntryThatIsNoGbkIsFoundAgainWhenChosenAndAdded",
     {{section_ls, key_history, "|*|\xFFShoe|42|199.00", true}},
     {{Do::choose_history, "\uFFFDShoe|42|199.00"}, {Do::add_as_shown}},
     {{Look::ls, "|*|\uFFFDShoe|42|199.00"}, {Look::history, "\uFFFDShoe|42|199.00"}}},
    // Enter and Esc arrive as the commands 1 and 2, which are no menu item.
    {"EnterAndEscChangeNoList",
     {{section_print, key_ticked_brands, "耐克|新百伦|"},
      {section_print, key_shops, "0,新世界百货"},
      {section_ls, key_history, "|*|跑鞋|42|199.00"}},
     {{Do::type_inputs, "a|b|c"}, {Do::enter}, {Do::escape}, {Do::enter}},
     {{Look::brands, "[耐克],新百伦"},
      {Look::ticked_items, "耐克,新百伦"},
      {Look::pplist, "耐克|新百伦|"},
      {Look::inputs, "a|b|c"},
      {Look::history, "跑鞋|42|199.00"},
      {Look::ls, "|*|跑鞋|42|199.00"},
      {Look::shops, "[新世界百货]/新世界百货"}}},
};

class ListsThroughTheWindow : public ::testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        runtime::testing::test_application();
        runtime::install_qt_interaction();
        runtime::set_message_box_answerer([this](QMessageBox& box) {
            m_boxes.push_back(box.text());
            return QMessageBox::Ok;
        });
        runtime::set_menu_chooser([this](QMenu& menu, const QPoint&) -> QAction* {
            for (QAction* action : menu.actions())
                if (action->text() == QString::fromStdString(m_pick)) return action;
            ADD_FAILURE() << "no menu item " << m_pick;
            return nullptr;
        });
        m_root = fs::temp_directory_path() /
                 ("vorsa-lists-window-" + std::to_string(::getpid()) + "-" + GetParam().name);
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_before = fs::current_path();
        fs::current_path(m_root);
    }

    // Puts every hook the test installs back when the test ends.
    ProgramPlatformGuard m_platform;

    void TearDown() override
    {
        close();
        fs::current_path(m_before);
        fs::remove_all(m_root);
    }

    void open()
    {
        StartOptions options;
        options.today = [] { return LocalDate{2015, 3, 5}; };
        options.printers = [](runtime::TextList& names) {
            names = {"Receipt-Printer", "PDF"};
            return 2;
        };
        options.printer = &m_printer;
        m_program = std::make_unique<QtCounterWindow>(current_settings_path(), std::move(options));
        m_window = runtime::create_main_dialog(
            main_window_form, [this](runtime::MainDialog& window) { m_program->on_window_created(window); });
        m_printer.page = &m_program->counter().board();
        m_window->show();
        // However long a busy machine takes; it returns as soon as the window is up.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get(), 60000));
        QCoreApplication::processEvents();
    }

    void close()
    {
        if (m_window) m_window->close();
        m_window.reset();
        m_program.reset();
    }

    WindowControls& controls() { return m_program->controls(); }

    static void type(QWidget* widget, const std::string& utf8_text)
    {
        for (const QChar character : QString::fromStdString(utf8_text)) {
            if (character == u'\n') {
                QTest::keyClick(widget, Qt::Key_Return);
                continue;
            }
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(character));
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(character));
            QApplication::sendEvent(widget, &press);
            QApplication::sendEvent(widget, &release);
        }
    }
    static void retype(runtime::QtEditBox& box, const std::string& utf8_text)
    {
        box.set_control_text({});
        box.widget()->setFocus();
        type(box.widget(), utf8_text);
    }
    static void click(const runtime::QtControlBase& button)
    {
        QTest::mouseClick(button.widget(), Qt::LeftButton);
    }

    void choose(runtime::QtPushButton& button, const std::string& item)
    {
        m_pick = item;
        click(button);
        // The chosen command reaches the window once the click's handler has returned.
        QCoreApplication::processEvents();
    }

    void run(const Step& step)
    {
        WindowControls& c = controls();
        switch (step.what) {
        case Do::tick:
            choose(c.settings_button, step.text);
            break;
        case Do::choose_history:
            choose(c.history_button, step.text);
            break;
        case Do::type_inputs: {
            const auto fields = fields_of(step.text);
            ASSERT_EQ(fields.size(), 3u);
            retype(c.product_edit, fields[0]);
            retype(c.size_edit, fields[1]);
            retype(c.price_edit, fields[2]);
            break;
        }
        case Do::add: {
            const auto fields = fields_of(step.text);
            ASSERT_EQ(fields.size(), 4u);
            retype(c.product_edit, fields[0]);
            retype(c.size_edit, fields[1]);
            retype(c.price_edit, fields[2]);
            retype(c.quantity_edit, fields[3]);
            click(c.add_preview_button);
            break;
        }
        case Do::add_as_shown:
            click(c.add_preview_button);
            break;
        case Do::type_shop: {
            QLineEdit* field = c.shop_box.combo_box()->lineEdit();
            field->clear();
            field->setFocus();
            type(field, step.text);
            break;
        }
        case Do::paste_shop: {
            QLineEdit* field = c.shop_box.combo_box()->lineEdit();
            field->clear();
            field->setFocus();
            QGuiApplication::clipboard()->setText(QString::fromStdString(step.text));
            QTest::keySequence(field, QKeySequence::Paste);
            break;
        }
        case Do::print:
            click(c.print_button);
            break;
        case Do::enter:
        case Do::escape:
            c.product_edit.widget()->setFocus();
            QTest::keyClick(c.product_edit.widget(),
                            step.what == Do::enter ? Qt::Key_Return : Qt::Key_Escape);
            QCoreApplication::processEvents();
            break;
        case Do::restart:
            close();
            open();
            break;
        }
    }

    std::string setting(std::string_view section, std::string_view key)
    {
        return utf8(runtime::read_setting(current_settings_path(), section, key));
    }

    static std::string entries(QComboBox* box)
    {
        std::vector<std::string> items;
        for (int i = 0; i < box->count(); ++i) {
            const std::string text = box->itemText(i).toStdString();
            items.push_back(i == box->currentIndex() ? "[" + text + "]" : text);
        }
        return joined(items);
    }

    std::vector<std::string> history_items()
    {
        std::vector<std::string> items;
        if (QMenu* menu = controls().history_menu.menu())
            for (QAction* action : menu->actions())
                items.push_back(action->text().toStdString());
        return items;
    }

    std::string look(Look what)
    {
        WindowControls& c = controls();
        switch (what) {
        case Look::brands:
            return entries(c.brand_box.combo_box());
        case Look::ticked_items: {
            std::vector<std::string> ticked;
            for (QAction* action : c.brand_menu.menu()->actions())
                if (action->isChecked()) ticked.push_back(action->text().toStdString());
            return joined(ticked);
        }
        case Look::shops:
            return entries(c.shop_box.combo_box()) + "/" +
                   c.shop_box.combo_box()->currentText().toStdString();
        case Look::history:
            return joined(history_items());
        case Look::history_count:
            return std::to_string(history_items().size());
        case Look::inputs:
            return utf8(c.product_edit.get_control_text()) + "|" + utf8(c.size_edit.get_control_text()) +
                   "|" + utf8(c.price_edit.get_control_text());
        case Look::pplist:
            return setting(section_print, key_ticked_brands);
        case Look::dm:
            return setting(section_print, key_shops);
        case Look::yyy:
            return setting(section_print, key_clerk);
        case Look::ls:
            return setting(section_ls, key_history);
        }
        return {};
    }

    static const char* name_of(Look what)
    {
        static const char* const names[] = {"brands", "ticked_items", "shops", "history", "history_count",
                                            "inputs", "pplist",       "dm",    "yyy",     "ls"};
        return names[static_cast<int>(what)];
    }

    std::string m_pick;
    std::vector<QString> m_boxes;
    testing::RefusingPrinter m_printer;
    std::unique_ptr<QtCounterWindow> m_program;
    std::unique_ptr<runtime::MainDialog> m_window;
    fs::path m_root;
    fs::path m_before;
};

TEST_P(ListsThroughTheWindow, ShowsAndStores)
{
    const Case& c = GetParam();
    for (const Setting& s : c.given)
        ASSERT_TRUE(runtime::write_setting(current_settings_path(), s.section, s.key,
                                           s.raw ? s.value : gbk(s.value)));
    open();
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        run(c.steps[i]);
        if (HasFatalFailure()) return;
    }
    for (const Expect& e : c.expect)
        EXPECT_EQ(look(e.what), e.value) << name_of(e.what);
    // No step here may bring up a message.
    EXPECT_TRUE(m_boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ListsThroughTheWindow, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace vorsa::app
