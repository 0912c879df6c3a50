// The remembered lists as the counter uses them: brands ticked through the brand menu's commands, the
// picked brand's logo on the receipt, shops and history across restarts. Each case starts the counter
// over in-memory controls in a directory of its own from the settings it names, runs its steps (a
// restart starts the counter again over the same settings file) and compares what the controls show
// and the file holds, written as text. What the lists do on their own is in lists_test.cpp; what needs
// the real widgets (typing, pasting, keys, bytes that are not GBK) in qt/lists_window_test.cpp.

#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "tests/app/counter_fixture.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vorsa::app {
namespace {

using runtime::Text;

std::string utf8(const Text& gbk)
{
    return runtime::utf8_from_gbk(gbk);
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string result;
    for (std::size_t i = 0; i < parts.size(); ++i)
        result += (i ? "," : "") + parts[i];
    return result;
}

// What the user does. `text` names the menu item, shop or brand, or holds the line
// "product|size|price|quantity" of an add.
enum class Do
{
    tick,       // "设置", then the brand's item in the brand menu
    add,        // fills the line in and clicks "添加预览"
    clear,      // "清除"
    pick_shop,  // picks the entry in the shop list
    pick_brand, // picks the entry in the brand list
    restart,    // a new start over the same settings file
};

struct Step
{
    Do what;
    std::string text = {};
};

enum class Look
{
    brands,        // brand list entries, the selected one in [ ]
    ticked_items,  // the checked items of the brand menu
    receipt_logo,  // the brand whose logo the last preview's record carries; (none) when it has none
    shops,         // shop list entries, the selected one in [ ], then "/" and the field's text
    history_count, // the history menu's items
    history_ends,  // the first and the last item
    pplist,        // values in the settings file
    dm,
};

struct Setting
{
    std::string_view section;
    std::string_view key;
    std::string value;
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

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

const std::vector<Case> cases = {
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
    // The online brands remembered from the last start that reached the server are offered again.
    {"BrandEndingInAnotherBrandsNameTicksBothAtEveryStart",
     {{section_pingpai, key_online_brands, ",新耐克"}, {section_print, key_ticked_brands, "新耐克|"}},
     {{Do::tick, "耐克"}, {Do::restart}},
     {{Look::ticked_items, "耐克,新耐克"}, {Look::brands, "[耐克],新耐克"}, {Look::pplist, "新耐克|"}}},
    {"PickingAShopWithoutPrintingIsNotRemembered",
     {{section_print, key_shops, "0,新世界百货,东方商场"}},
     {{Do::pick_shop, "东方商场"}, {Do::restart}},
     {{Look::dm, "0,新世界百货,东方商场"}, {Look::shops, "[新世界百货],东方商场/新世界百货"}}},
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
};

class ListsAtTheCounter : public testing::CounterFixture, public ::testing::WithParamInterface<Case>
{
protected:
    static std::vector<std::string> fields_of(const std::string& text)
    {
        std::vector<std::string> fields;
        std::size_t begin = 0;
        for (std::size_t bar; (bar = text.find('|', begin)) != std::string::npos; begin = bar + 1)
            fields.push_back(text.substr(begin, bar - begin));
        fields.push_back(text.substr(begin));
        return fields;
    }

    static void pick(runtime::MemoryDropDownList& list, const std::string& utf8_text)
    {
        const auto& items = list.items();
        const auto found = std::find(items.begin(), items.end(), runtime::gbk_from_utf8(utf8_text));
        ASSERT_NE(found, items.end()) << "no entry " << utf8_text;
        list.choose(static_cast<int>(found - items.begin()));
    }

    void run(const Step& step)
    {
        auto& c = controls();
        switch (step.what) {
        case Do::tick: {
            const int shown = c.brand_menu.times_shown();
            c.settings_button.click();
            ASSERT_EQ(c.brand_menu.times_shown(), shown + 1);
            int id = -1;
            for (int p = 0; p < c.brand_menu.menu_item_count(); ++p)
                if (c.brand_menu.get_menu_item_text(p, true) == runtime::gbk_from_utf8(step.text))
                    id = c.brand_menu.get_menu_item_id(p);
            ASSERT_GE(id, 0) << "no menu item " << step.text;
            window().choose_menu_command(id);
            break;
        }
        case Do::add: {
            const auto fields = fields_of(step.text);
            ASSERT_EQ(fields.size(), 4u);
            c.product_edit.set_control_text(runtime::gbk_from_utf8(fields[0]));
            c.size_edit.set_control_text(runtime::gbk_from_utf8(fields[1]));
            c.price_edit.set_control_text(runtime::gbk_from_utf8(fields[2]));
            c.quantity_edit.set_control_text(runtime::gbk_from_utf8(fields[3]));
            c.add_preview_button.click();
            break;
        }
        case Do::clear:
            c.clear_button.click();
            break;
        case Do::pick_shop:
            pick(c.shop_box, step.text);
            break;
        case Do::pick_brand:
            pick(c.brand_box, step.text);
            break;
        case Do::restart:
            restart();
            break;
        }
    }

    static std::string entries(const runtime::MemoryDropDownList& list)
    {
        std::vector<std::string> items;
        for (int i = 0; i < list.item_count(); ++i) {
            const std::string text = utf8(list.get_item_text(i));
            items.push_back(i == list.get_selection() ? "[" + text + "]" : text);
        }
        return joined(items);
    }

    std::vector<std::string> history_items()
    {
        std::vector<std::string> items;
        for (int p = 0; p < controls().history_menu.menu_item_count(); ++p)
            items.push_back(utf8(controls().history_menu.get_menu_item_text(p, true)));
        return items;
    }

    std::string look(Look what)
    {
        auto& c = controls();
        switch (what) {
        case Look::brands:
            return entries(c.brand_box);
        case Look::ticked_items: {
            std::vector<std::string> ticked;
            for (int p = 0; p < c.brand_menu.menu_item_count(); ++p)
                if (c.brand_menu.get_menu_item_state(p, true) == runtime::menu_checked)
                    ticked.push_back(utf8(c.brand_menu.get_menu_item_text(p, true)));
            return joined(ticked);
        }
        case Look::receipt_logo: {
            const runtime::Bytes& logo = counter().receipt_data().logo_picture;
            if (logo.empty()) return "(none)";
            const auto& logos = counter().lists().brand_logos();
            for (std::size_t i = 0; i < logos.size(); ++i)
                if (logos[i] == logo) return utf8(counter().lists().brand_names()[i]);
            return "(another picture)";
        }
        case Look::shops:
            return entries(c.shop_box) + "/" + utf8(c.shop_box.get_control_text());
        case Look::history_count:
            return std::to_string(history_items().size());
        case Look::history_ends: {
            const auto items = history_items();
            return items.empty() ? "" : items.front() + " … " + items.back();
        }
        case Look::pplist:
            return utf8(setting(section_print, key_ticked_brands));
        case Look::dm:
            return utf8(setting(section_print, key_shops));
        }
        return {};
    }

    static const char* name_of(Look what)
    {
        static const char* const names[] = {"brands",        "ticked_items", "receipt_logo", "shops",
                                            "history_count", "history_ends", "pplist",       "dm"};
        return names[static_cast<int>(what)];
    }
};

TEST_P(ListsAtTheCounter, ShowsAndStores)
{
    const Case& c = GetParam();
    for (const Setting& s : c.given)
        put(s.section, s.key, runtime::gbk_from_utf8(s.value));
    start();
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        run(c.steps[i]);
        if (HasFatalFailure()) return;
    }
    for (const Expect& e : c.expect)
        EXPECT_EQ(look(e.what), e.value) << name_of(e.what);
    // No step here may bring up a message.
    EXPECT_TRUE(interaction.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ListsAtTheCounter, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& param_info) {
                             return std::string(param_info.param.name);
                         });

} // namespace
} // namespace vorsa::app
