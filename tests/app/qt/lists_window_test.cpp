// The remembered lists through the real main window on the offscreen platform: brands ticked in the
// real popup menu (its chooser seam picks the item the user would click), shops typed into the real
// editable drop-down list, printers and brands picked with the keyboard, buttons clicked with the
// mouse, Enter and Esc pressed in a box. Each case starts in a directory of its own from the settings
// it names, runs its steps (a restart closes the window and starts the program again over the same
// settings file) and compares what the window shows and the file holds, written as text.

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
    clear,          // "清除"
    type_shop,      // replaces the shop field's text by typing
    paste_shop,     // replaces the shop field's text by pasting it from the clipboard
    pick_shop,      // arrows through the shop list to the entry
    remove_shop,    // "X"
    print,          // "开始打印"
    pick_printer,   // arrows through the printer list to the entry
    pick_brand,     // arrows through the brand list to the entry
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
    receipt_logo,  // the brand whose logo the last preview's record carries; (none) when it has none
    shops,         // shop list entries, the selected one in [ ], then "/" and the field's text
    printers,      // printer list entries, the selected one in [ ]
    printed_on,    // the names the printer was asked for, one per press; "" shows as (empty)
    history,       // the history menu's items
    history_count, // their number
    history_ends,  // the first and the last item
    inputs,        // product|size|price as the boxes show them
    pplist,        // values in the settings file
    dm,
    dyjm,
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

// History entries item<n>|1|1.00 from n = newest down to 1, as the program stores them.
std::string stored_history(int newest)
{
    std::string value;
    for (int n = newest; n >= 1; --n)
        value += "|*|item" + std::to_string(n) + "|1|1.00";
    return value;
}

const std::vector<Case> cases = {
    // Brands.
    {"TickingFollowsMenuOrderAndLogosFollowTheList",
     {},
     {{Do::tick, "新百伦"}, {Do::tick, "耐克"}, {Do::pick_brand, "新百伦"}, {Do::add, "跑鞋|42|199|1"}},
     {{Look::brands, "耐克,[新百伦]"},
      {Look::ticked_items, "耐克,新百伦"},
      {Look::pplist, "耐克|新百伦|"},
      {Look::receipt_logo, "新百伦"}}},
    {"TickedBrandIsSelectedAndItsLogoPrinted",
     {{section_print, key_ticked_brands, "耐克|"}},
     {{Do::tick, "匡威"}, {Do::add, "跑鞋|42|199|1"}},
     {{Look::brands, "耐克,[匡威]"}, {Look::receipt_logo, "匡威"}, {Look::pplist, "耐克|匡威|"}}},
    {"UntickingTheSelectedBrandLeavesNoSelection",
     {{section_print, key_ticked_brands, "耐克|新百伦|"}},
     {{Do::tick, "耐克"}, {Do::add, "跑鞋|42|199|1"}},
     {{Look::brands, "新百伦"},
      {Look::ticked_items, "新百伦"},
      {Look::pplist, "新百伦|"},
      {Look::receipt_logo, "(none)"}}},
    {"UntickingAnotherBrandLeavesNoSelectionEither",
     {{section_print, key_ticked_brands, "耐克|新百伦|"}},
     {{Do::tick, "新百伦"}},
     {{Look::brands, "耐克"}, {Look::ticked_items, "耐克"}, {Look::pplist, "耐克|"}}},
    {"BrandEndingInAnotherBrandsNameTicksBothAtEveryStart",
     {{section_pingpai, key_online_brands, ",新耐克"}, {section_print, key_ticked_brands, "新耐克|"}},
     {{Do::tick, "耐克"}, {Do::restart}},
     {{Look::ticked_items, "耐克,新耐克"}, {Look::brands, "[耐克],新耐克"}, {Look::pplist, "新耐克|"}}},
    // A name that is not GBK shows with U+FFFD; what is stored is the vendor's bytes.
    {"BrandNameThatIsNoGbkStaysTickedAfterARestart",
     {{section_pingpai, key_online_brands, ",\xFFSport", true}},
     {{Do::tick, "\uFFFDSport"}, {Do::restart}},
     {{Look::ticked_items, "\uFFFDSport"}, {Look::brands, "[\uFFFDSport]"}, {Look::pplist, "\uFFFDSport|"}}},
    {"UntickedNameInsideATickedOneIsBackAfterARestart",
     {{section_pingpai, key_online_brands, ",新耐克"}, {section_print, key_ticked_brands, "新耐克|"}},
     {{Do::tick, "耐克"}},
     {{Look::ticked_items, "新耐克"}, {Look::brands, "新耐克"}}},

    // Shops.
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
    {"PrintingAPickedShopStoresItsIndexAndTheNextStartSelectsIt",
     {{section_print, key_shops, "0,新世界百货,东方商场"}},
     {{Do::pick_shop, "东方商场"}, {Do::print}, {Do::restart}},
     {{Look::dm, "1,新世界百货,东方商场"}, {Look::shops, "新世界百货,[东方商场]/东方商场"}}},
    {"PickingAShopWithoutPrintingIsNotRemembered",
     {{section_print, key_shops, "0,新世界百货,东方商场"}},
     {{Do::pick_shop, "东方商场"}, {Do::restart}},
     {{Look::dm, "0,新世界百货,东方商场"}, {Look::shops, "[新世界百货],东方商场/新世界百货"}}},
    {"ShopNameWithACommaComesBackAsTwoShops",
     {},
     {{Do::type_shop, "王府井,东区"}, {Do::print}, {Do::restart}},
     {{Look::dm, "0,王府井,东区"}, {Look::shops, "[王府井],东区/王府井"}}},
    {"ShopAndClerkThatAreNoGbkAreWrittenBackAsStored",
     {{section_print, key_shops, "0,\xFFShop", true}, {section_print, key_clerk, "\xFFYuan", true}},
     {{Do::print}, {Do::restart}},
     {{Look::dm, "0,\uFFFDShop"}, {Look::yyy, "\uFFFDYuan"}, {Look::shops, "[\uFFFDShop]/\uFFFDShop"}}},
    // A value stored with a line break would be cut at it; the break is stored as a blank.
    {"ShopPastedWithALineBreakIsStoredWithABlank",
     {},
     {{Do::paste_shop, "东方\n商场"}, {Do::print}, {Do::restart}},
     {{Look::dm, "0,东方 商场"}, {Look::shops, "[东方 商场]/东方 商场"}}},
    {"RemovingTheSelectedShopSelectsTheLastLeft",
     {{section_print, key_shops, "0,新世界百货,东方商场,百盛"}},
     {{Do::remove_shop}},
     {{Look::dm, "1,东方商场,百盛"}, {Look::shops, "东方商场,[百盛]/百盛"}}},
    {"RemovingANameNoEntryHasSelectsTheFirst",
     {{section_print, key_shops, "1,新世界百货,东方商场"}},
     {{Do::type_shop, "百盛"}, {Do::remove_shop}},
     {{Look::dm, "0,新世界百货,东方商场"}, {Look::shops, "[新世界百货],东方商场/新世界百货"}}},
    {"RemovingTheOnlyShopEmptiesTheField",
     {{section_print, key_shops, "0,新世界百货"}},
     {{Do::remove_shop}, {Do::restart}},
     {{Look::dm, "-1"}, {Look::shops, "/"}}},

    // Printers.
    {"VanishedPrinterStaysInForceUntilAnotherIsPicked",
     {{section_dayinji, key_printer, "Gone"}},
     {{Do::print}, {Do::pick_printer, "PDF"}, {Do::print}},
     {{Look::printed_on, "Gone,PDF"}, {Look::dyjm, "PDF"}, {Look::printers, "Receipt-Printer,[PDF]"}}},
    {"VanishedPrinterIsNotSelectedAndNotForgotten",
     {{section_dayinji, key_printer, "Gone"}},
     {{Do::print}, {Do::restart}, {Do::print}},
     {{Look::printers, "Receipt-Printer,PDF"}, {Look::printed_on, "Gone,Gone"}, {Look::dyjm, "Gone"}}},
    {"NoRememberedPrinterAsksForTheEmptyNameAndSavesTheShopValues",
     {},
     {{Do::type_shop, "东方商场"}, {Do::print}},
     {{Look::printed_on, "(empty)"}, {Look::dm, "0,东方商场"}, {Look::printers, "Receipt-Printer,PDF"}}},

    // History.
    {"HistoryGrowsAtTheFrontWithoutRepeats",
     {},
     {{Do::add, "跑鞋|42|199|1"},
      {Do::add, "短袖|L|59|1"},
      {Do::add, "跑鞋|42|199|1"},
      // Found inside 跑鞋|42|199.00, so not added either.
      {Do::add, "鞋|42|199|1"}},
     {{Look::history, "短袖|L|59.00,跑鞋|42|199.00"}, {Look::ls, "|*|短袖|L|59.00|*|跑鞋|42|199.00"}}},
    {"HistoryEntryFoundKeepsItsPlace",
     {{section_ls, key_history, "|*|短袖|L|59.00|*|跑鞋|42|199.00"}},
     {{Do::add, "跑鞋|42|199|1"}},
     {{Look::history, "短袖|L|59.00,跑鞋|42|199.00"}}},
    {"HistoryKeepsNineteenEntriesNewestFirst",
     {{section_ls, key_history, stored_history(19)}},
     {{Do::add, "跑鞋|42|199|1"}},
     {{Look::history_count, "19"}, {Look::history_ends, "跑鞋|42|199.00 … item2|1|1.00"}}},
    {"HistoryKeepsNineteenAcrossRestartsAndFiveLineReceipts",
     {},
     {{Do::add, "a1|1|1|1"}, {Do::add, "a2|1|1|1"}, {Do::add, "a3|1|1|1"}, {Do::add, "a4|1|1|1"},
      {Do::add, "a5|1|1|1"}, {Do::clear},           {Do::add, "a6|1|1|1"}, {Do::add, "a7|1|1|1"},
      {Do::add, "a8|1|1|1"}, {Do::add, "a9|1|1|1"}, {Do::add, "b0|1|1|1"}, {Do::restart},
      {Do::add, "b1|1|1|1"}, {Do::add, "b2|1|1|1"}, {Do::add, "b3|1|1|1"}, {Do::add, "b4|1|1|1"},
      {Do::add, "b5|1|1|1"}, {Do::clear},           {Do::add, "b6|1|1|1"}, {Do::add, "b7|1|1|1"},
      {Do::add, "b8|1|1|1"}, {Do::add, "b9|1|1|1"}, {Do::add, "c0|1|1|1"}, {Do::clear},
      {Do::add, "c1|1|1|1"}, {Do::restart}},
     {{Look::history_count, "19"}, {Look::history_ends, "c1|1|1.00 … a3|1|1.00"}}},
    // Enter in the size box; the receipt line keeps the break, the stored entry holds a blank instead.
    {"LineBreakTypedIntoTheSizeKeepsTheOlderEntries",
     {{section_ls, key_history, "|*|a|1|1.00|*|b|1|1.00|*|c|1|1.00"}},
     {{Do::add, "跑鞋|4\n2\n|199|1"}, {Do::restart}},
     {{Look::ls, "|*|跑鞋|4 2 |199.00|*|a|1|1.00|*|b|1|1.00|*|c|1|1.00"}, {Look::history_count, "4"}}},
    {"HistoryEntryThatIsNoGbkIsFoundAgainWhenChosenAndAdded",
     {{section_ls, key_history, "|*|\xFFShoe|42|199.00", true}},
     {{Do::choose_history, "\uFFFDShoe|42|199.00"}, {Do::add_as_shown}},
     {{Look::ls, "|*|\uFFFDShoe|42|199.00"}, {Look::history, "\uFFFDShoe|42|199.00"}}},
    {"ChoosingAHistoryEntryFillsTheBoxesOnlyWithThreeFields",
     {{section_ls, key_history, "|*|跑鞋||199.00|*|短袖|L|"}},
     {{Do::type_inputs, "x|y|z"}, {Do::choose_history, "跑鞋||199.00"}, {Do::choose_history, "短袖|L|"}},
     {{Look::inputs, "跑鞋||199.00"}, {Look::ls, "|*|跑鞋||199.00|*|短袖|L|"}}},

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

    // The arrow keys move the list's selection one entry at a time, as a user picks with the keyboard.
    static void pick(runtime::QtDropDownList& list, const std::string& utf8_text)
    {
        QComboBox* box = list.combo_box();
        const int wanted = box->findText(QString::fromStdString(utf8_text));
        ASSERT_GE(wanted, 0) << "no entry " << utf8_text;
        box->setFocus();
        for (int guard = 0; box->currentIndex() != wanted && guard < 2 * box->count() + 2; ++guard)
            QTest::keyClick(box, box->currentIndex() < wanted ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(box->currentIndex(), wanted);
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
        case Do::clear:
            click(c.clear_button);
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
        case Do::pick_shop:
            pick(c.shop_box, step.text);
            break;
        case Do::remove_shop:
            click(c.remove_shop_button);
            break;
        case Do::print:
            click(c.print_button);
            break;
        case Do::pick_printer:
            pick(c.printer_box, step.text);
            break;
        case Do::pick_brand:
            pick(c.brand_box, step.text);
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
        case Look::receipt_logo: {
            const runtime::Bytes& logo = m_program->counter().receipt_data().logo_picture;
            if (logo.empty()) return "(none)";
            const auto& logos = m_program->counter().lists().brand_logos();
            for (std::size_t i = 0; i < logos.size(); ++i)
                if (logos[i] == logo) return utf8(m_program->counter().lists().brand_names()[i]);
            return "(another picture)";
        }
        case Look::shops:
            return entries(c.shop_box.combo_box()) + "/" +
                   c.shop_box.combo_box()->currentText().toStdString();
        case Look::printers:
            return entries(c.printer_box.combo_box());
        case Look::printed_on: {
            std::vector<std::string> names;
            for (const auto& name : m_printer.asked)
                names.push_back(!name ? "(default)" : name->empty() ? "(empty)" : utf8(*name));
            return joined(names);
        }
        case Look::history:
            return joined(history_items());
        case Look::history_count:
            return std::to_string(history_items().size());
        case Look::history_ends: {
            const auto items = history_items();
            return items.empty() ? "" : items.front() + " … " + items.back();
        }
        case Look::inputs:
            return utf8(c.product_edit.get_control_text()) + "|" + utf8(c.size_edit.get_control_text()) +
                   "|" + utf8(c.price_edit.get_control_text());
        case Look::pplist:
            return setting(section_print, key_ticked_brands);
        case Look::dm:
            return setting(section_print, key_shops);
        case Look::dyjm:
            return setting(section_dayinji, key_printer);
        case Look::yyy:
            return setting(section_print, key_clerk);
        case Look::ls:
            return setting(section_ls, key_history);
        }
        return {};
    }

    static const char* name_of(Look what)
    {
        static const char* const names[] = {
            "brands",     "ticked_items", "receipt_logo",  "shops",        "printers",
            "printed_on", "history",      "history_count", "history_ends", "inputs",
            "pplist",     "dm",           "dyjm",          "yyy",          "ls"};
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
