#include "app/lists.h"
#include "runtime/controls/memory_controls.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/text/gbk.h"
#include "tests/runtime/settings/file_bytes.h"
#include "tests/runtime/settings/file_writes.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vorsa::app {
namespace {

using namespace runtime::literals;
using runtime::MemoryDropDownList;
using runtime::MemoryEditBox;
using runtime::MemoryPopupMenu;

// Stand-ins for the built-in brands; each logo is a distinct one-byte picture.
TextList builtin_names()
{
    return {"耐克"_gbk, "阿迪达斯"_gbk, "新百伦"_gbk, "彪马"_gbk, "匡威"_gbk};
}

std::vector<Bytes> logos_for(const TextList& names)
{
    std::vector<Bytes> logos;
    for (std::size_t i = 0; i < names.size(); ++i)
        logos.push_back(Bytes{static_cast<std::uint8_t>(0x40 + i)});
    return logos;
}

int brand_id(int position)
{
    return brand_command_base + position;
}
int history_id(int position)
{
    return history_command_base + position;
}

class ListsTest : public ::testing::Test
{
protected:
    ListsTest()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_directory = std::filesystem::temp_directory_path() /
                      ("vorsa_lists_" + std::to_string(::getpid()) + "_" + info->name());
        std::filesystem::remove_all(m_directory);
        std::filesystem::create_directories(m_directory);
        path = (m_directory / "dy.cfg").string();
    }
    ~ListsTest() override { std::filesystem::remove_all(m_directory); }

    Lists& lists()
    {
        if (!m_lists) {
            m_lists = std::make_unique<Lists>(ListControls{brand_box, shop_box, printer_box, product_edit,
                                                           size_edit, price_edit, clerk_edit, address_edit,
                                                           brand_menu, history_menu},
                                              path);
        }
        return *m_lists;
    }

    // A fresh program start over the same settings file: new controls, new lists.
    void restart()
    {
        m_lists.reset();
        brand_box = MemoryDropDownList{};
        shop_box = MemoryDropDownList{true};
        printer_box = MemoryDropDownList{};
        for (auto* edit : {&product_edit, &size_edit, &price_edit, &clerk_edit, &address_edit})
            *edit = {};
        brand_menu = MemoryPopupMenu{};
        history_menu = MemoryPopupMenu{};
    }

    void start_brands(const TextList& names, const Text& ticked)
    {
        lists().build_brand_lists(names, logos_for(names), ticked);
        expect_brand_invariant();
    }

    Text setting(std::string_view section, std::string_view key) const
    {
        return runtime::read_setting(path, section, key);
    }
    void put(std::string_view section, std::string_view key, const Text& value)
    {
        ASSERT_TRUE(runtime::write_setting(path, section, key, value));
    }

    // brand_box and ticked_logos hold the checked menu items, in menu order, each with its own logo.
    void expect_brand_invariant()
    {
        const auto& ticked = lists().ticked_logos();
        ASSERT_EQ(static_cast<int>(ticked.size()), brand_box.item_count());
        int k = 0;
        for (int p = 0; p < brand_menu.menu_item_count(); ++p) {
            if (brand_menu.get_menu_item_state(p, true) != runtime::menu_checked) continue;
            ASSERT_LT(k, brand_box.item_count());
            EXPECT_EQ(brand_box.get_item_text(k), brand_menu.get_menu_item_text(p, true)) << "entry " << k;
            EXPECT_EQ(ticked[static_cast<std::size_t>(k)], lists().brand_logos()[static_cast<std::size_t>(p)])
                << "entry " << k;
            ++k;
        }
        EXPECT_EQ(k, brand_box.item_count());
    }

    std::vector<Text> menu_texts(const MemoryPopupMenu& menu) const
    {
        std::vector<Text> texts;
        for (int p = 0; p < menu.menu_item_count(); ++p)
            texts.push_back(menu.get_menu_item_text(p, true));
        return texts;
    }
    std::vector<int> menu_ids(const MemoryPopupMenu& menu) const
    {
        std::vector<int> ids;
        for (int p = 0; p < menu.menu_item_count(); ++p)
            ids.push_back(menu.get_menu_item_id(p));
        return ids;
    }

    std::string path;
    MemoryDropDownList brand_box;
    MemoryDropDownList shop_box{true};
    MemoryDropDownList printer_box;
    MemoryEditBox product_edit, size_edit, price_edit, clerk_edit, address_edit;
    MemoryPopupMenu brand_menu, history_menu;

private:
    std::filesystem::path m_directory;
    std::unique_ptr<Lists> m_lists;
};

PrinterNameSource printers_of(TextList names)
{
    return [names](TextList& out) {
        if (names.empty()) return 0;
        out = names;
        return static_cast<int>(names.size());
    };
}

TEST_F(ListsTest, FirstStartHasEmptyListsAndNoPrinterSelected)
{
    start_brands(builtin_names(), setting(section_print, key_ticked_brands));
    lists().load_remembered_values(printers_of({"lobby", "counter"}));
    lists().rebuild_history_menu("");

    EXPECT_EQ(menu_texts(brand_menu), builtin_names());
    EXPECT_EQ(menu_ids(brand_menu), (std::vector<int>{13246, 13247, 13248, 13249, 13250}));
    for (int p = 0; p < 5; ++p)
        EXPECT_EQ(brand_menu.get_menu_item_state(p, true), runtime::menu_unchecked);
    EXPECT_EQ(brand_box.item_count(), 0);
    EXPECT_EQ(brand_box.get_selection(), -1);
    EXPECT_EQ(shop_box.item_count(), 0);
    EXPECT_TRUE(history_menu.exists());
    EXPECT_EQ(history_menu.menu_item_count(), 0);
    EXPECT_EQ(printer_box.items(), (std::vector<Text>{"lobby", "counter"}));
    EXPECT_EQ(printer_box.get_selection(), -1);
    EXPECT_EQ(lists().printer_name(), "");
    EXPECT_EQ(clerk_edit.get_control_text(), "");
    EXPECT_EQ(address_edit.get_control_text(), "");
    // Nothing was remembered, so nothing was written.
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ListsTest, TickedBrandsAtStartFollowTheSearchForNameAndTerminator)
{
    struct Case
    {
        const char* what;
        TextList names;
        Text pplist;
        std::vector<Text> expected_box;
    };
    const std::vector<Case> cases = {
        {"one brand", builtin_names(), "耐克|"_gbk, {"耐克"_gbk}},
        {"nothing ticked", builtin_names(), "", {}},
        {"menu order, not stored order", builtin_names(), "新百伦|耐克|"_gbk, {"耐克"_gbk, "新百伦"_gbk}},
        {"a name ending in another's ticks both",
         {"耐克"_gbk, "新耐克"_gbk},
         "新耐克|"_gbk,
         {"耐克"_gbk, "新耐克"_gbk}},
        {"an empty name counts as ticked once anything is",
         {"耐克"_gbk, "", "彪马"_gbk},
         "彪马|"_gbk,
         {"", "彪马"_gbk}},
        {"an empty name stays unticked when nothing is", {"耐克"_gbk, ""}, "", {}},
        {"without the terminator nothing matches", builtin_names(), "耐克"_gbk, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        start_brands(c.names, c.pplist);
        EXPECT_EQ(brand_box.items(), c.expected_box);
        EXPECT_EQ(brand_box.get_selection(), c.expected_box.empty() ? -1 : 0);
        for (int p = 0; p < brand_menu.menu_item_count(); ++p) {
            const Text name = c.names[static_cast<std::size_t>(p)];
            const bool ticked =
                std::find(c.expected_box.begin(), c.expected_box.end(), name) != c.expected_box.end();
            EXPECT_EQ(brand_menu.get_menu_item_state(p, true) == runtime::menu_checked, ticked) << p;
        }
    }
}

TEST_F(ListsTest, TickingKeepsMenuOrderAndSelectsTheTickedBrand)
{
    start_brands(builtin_names(), "");

    struct Step
    {
        const char* what;
        int position; // 1-based menu position toggled
        std::vector<Text> box;
        int selection;
        Text pplist;
    };
    const std::vector<Step> steps = {
        {"tick 新百伦", 3, {"新百伦"_gbk}, 0, "新百伦|"_gbk},
        {"tick 耐克: menu order, 耐克 selected", 1, {"耐克"_gbk, "新百伦"_gbk}, 0, "耐克|新百伦|"_gbk},
        {"tick 匡威", 5, {"耐克"_gbk, "新百伦"_gbk, "匡威"_gbk}, 2, "耐克|新百伦|匡威|"_gbk},
        {"untick 新百伦 leaves no selection", 3, {"耐克"_gbk, "匡威"_gbk}, -1, "耐克|匡威|"_gbk},
        {"tick 新百伦 again", 3, {"耐克"_gbk, "新百伦"_gbk, "匡威"_gbk}, 1, "耐克|新百伦|匡威|"_gbk},
        {"untick 耐克", 1, {"新百伦"_gbk, "匡威"_gbk}, -1, "新百伦|匡威|"_gbk},
        {"untick 新百伦", 3, {"匡威"_gbk}, -1, "匡威|"_gbk},
        {"untick 匡威 writes the empty list", 5, {}, -1, ""},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        lists().on_menu_command(brand_id(s.position));
        EXPECT_EQ(brand_box.items(), s.box);
        EXPECT_EQ(brand_box.get_selection(), s.selection);
        EXPECT_EQ(setting(section_print, key_ticked_brands), s.pplist);
        expect_brand_invariant();
    }
}

TEST_F(ListsTest, TickingWithAnotherBrandSelectedStoresMenuOrder)
{
    start_brands(builtin_names(), "耐克|"_gbk);
    ASSERT_EQ(brand_box.get_selection(), 0);
    lists().on_menu_command(brand_id(3));
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"耐克"_gbk, "新百伦"_gbk}));
    EXPECT_EQ(brand_box.get_control_text(), "新百伦"_gbk);
    EXPECT_EQ(setting(section_print, key_ticked_brands), "耐克|新百伦|"_gbk);
    expect_brand_invariant();

    // The next start ticks the same brands and selects the first.
    restart();
    start_brands(builtin_names(), setting(section_print, key_ticked_brands));
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"耐克"_gbk, "新百伦"_gbk}));
    EXPECT_EQ(brand_box.get_selection(), 0);
}

TEST_F(ListsTest, EmptyBrandNameAndNameInsideAnotherSurviveToggles)
{
    const TextList names = {"耐克"_gbk, "新耐克"_gbk, ""};
    start_brands(names, "新耐克|"_gbk);
    // 耐克 and the empty name are ticked by the search as well.
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"耐克"_gbk, "新耐克"_gbk, ""}));

    lists().on_menu_command(brand_id(1)); // untick 耐克
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"新耐克"_gbk, ""}));
    EXPECT_EQ(setting(section_print, key_ticked_brands), "新耐克||"_gbk);
    expect_brand_invariant();

    lists().on_menu_command(brand_id(3)); // untick the empty name
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"新耐克"_gbk}));
    expect_brand_invariant();

    // Stored as 新耐克| again, so the next start ticks all three once more.
    restart();
    start_brands(names, setting(section_print, key_ticked_brands));
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"耐克"_gbk, "新耐克"_gbk, ""}));
}

TEST_F(ListsTest, OnlineBrandsAfterTheBuiltInOnesTickLikeThem)
{
    TextList names = builtin_names();
    names.push_back("李宁"_gbk);
    names.push_back("安踏"_gbk);
    start_brands(names, "安踏|"_gbk);
    EXPECT_EQ(menu_ids(brand_menu).back(), 13252);
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"安踏"_gbk}));
    lists().on_menu_command(13251);
    EXPECT_EQ(brand_box.items(), (std::vector<Text>{"李宁"_gbk, "安踏"_gbk}));
    EXPECT_EQ(brand_box.get_selection(), 0);
    EXPECT_EQ(lists().ticked_logos(), (std::vector<Bytes>{Bytes{0x45}, Bytes{0x46}}));
    expect_brand_invariant();
}

TEST_F(ListsTest, CommandsBelowTheMenuRangesAreIgnored)
{
    start_brands(builtin_names(), "耐克|"_gbk);
    put(section_ls, key_history, "|*|跑鞋|42|399.00"_gbk);
    lists().rebuild_history_menu("");
    product_edit.set_control_text("typed");

    for (int id : {0, 1, 2, 1000, 13140}) {
        SCOPED_TRACE(id);
        lists().on_menu_command(id);
        EXPECT_EQ(product_edit.get_control_text(), "typed");
        EXPECT_EQ(brand_box.items(), (std::vector<Text>{"耐克"_gbk}));
        EXPECT_EQ(brand_box.get_selection(), 0);
        EXPECT_EQ(setting(section_print, key_ticked_brands), ""); // never written
        expect_brand_invariant();
    }
}

TEST_F(ListsTest, HistoryEntryFillsProductSizeAndPriceOnlyWithThreeFields)
{
    start_brands(builtin_names(), "");
    put(section_ls, key_history, "|*|跑鞋|42|399.00|*|短袖||89.00|*|袜子|M|*|帽|F|1|2|*||||"_gbk);
    lists().rebuild_history_menu("");
    ASSERT_EQ(menu_texts(history_menu), (std::vector<Text>{"跑鞋|42|399.00"_gbk, "短袖||89.00"_gbk,
                                                           "袜子|M"_gbk, "帽|F|1|2"_gbk, "|||"}));

    struct Case
    {
        const char* what;
        int position;
        Text product, size, price; // expected afterwards
    };
    const std::vector<Case> cases = {
        {"three fields", 2, "跑鞋"_gbk, "42", "399.00"},
        {"empty size field empties the size", 3, "短袖"_gbk, "", "89.00"},
        {"two fields are ignored", 4, "短袖"_gbk, "", "89.00"},
        {"four fields are ignored", 5, "短袖"_gbk, "", "89.00"},
        // "|||" splits into three empty fields and a dropped final one: it empties all three boxes.
        {"separators only", 6, "", "", ""},
        {"an identifier without an item is ignored", 20, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        lists().on_menu_command(history_id(c.position));
        EXPECT_EQ(product_edit.get_control_text(), c.product);
        EXPECT_EQ(size_edit.get_control_text(), c.size);
        EXPECT_EQ(price_edit.get_control_text(), c.price);
    }
    // Choosing entries never changes the history.
    EXPECT_EQ(setting(section_ls, key_history),
              "|*|跑鞋|42|399.00|*|短袖||89.00|*|袜子|M|*|帽|F|1|2|*||||"_gbk);
}

TEST_F(ListsTest, HistoryEntryWithEmptyMoneyFieldIsIgnored)
{
    put(section_ls, key_history, "|*|跑鞋|42|"_gbk);
    lists().rebuild_history_menu("");
    product_edit.set_control_text("x");
    size_edit.set_control_text("y");
    price_edit.set_control_text("z");
    lists().on_menu_command(history_id(2));
    EXPECT_EQ(product_edit.get_control_text(), "x");
    EXPECT_EQ(size_edit.get_control_text(), "y");
    EXPECT_EQ(price_edit.get_control_text(), "z");
}

TEST_F(ListsTest, HistoryGrowsAtTheFrontWithoutRepeats)
{
    struct Step
    {
        const char* what;
        Text entry;
        Text stored; // "ls" afterwards; empty means not written
        std::vector<int> ids;
    };
    const std::vector<Step> steps = {
        {"start without history writes nothing", "", "", {}},
        {"first entry", "跑鞋|42|399.00"_gbk, "|*|跑鞋|42|399.00"_gbk, {13146}},
        {"second entry goes in front",
         "短袖|L|89.00"_gbk,
         "|*|短袖|L|89.00|*|跑鞋|42|399.00"_gbk,
         {13146, 13148}},
        {"the same entry again changes nothing",
         "跑鞋|42|399.00"_gbk,
         "|*|短袖|L|89.00|*|跑鞋|42|399.00"_gbk,
         {13147, 13148}},
        {"an entry found inside a longer one is not added",
         "鞋|42|399.00"_gbk,
         "|*|短袖|L|89.00|*|跑鞋|42|399.00"_gbk,
         {13147, 13148}},
        {"same product and size with other money is new",
         "跑鞋|42|398.00"_gbk,
         "|*|跑鞋|42|398.00|*|短袖|L|89.00|*|跑鞋|42|399.00"_gbk,
         {13146, 13148, 13149}},
        {"restart rebuilds with the leading empty position",
         "",
         "|*|跑鞋|42|398.00|*|短袖|L|89.00|*|跑鞋|42|399.00"_gbk,
         {13147, 13148, 13149}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        lists().rebuild_history_menu(s.entry);
        EXPECT_EQ(setting(section_ls, key_history), s.stored);
        EXPECT_EQ(menu_ids(history_menu), s.ids);
    }
}

TEST_F(ListsTest, HistoryKeepsAtMostNineteenEntries)
{
    for (int i = 1; i <= 25; ++i) {
        lists().rebuild_history_menu("item" + std::to_string(i) + "|M|1.00");
        ASSERT_LE(history_menu.menu_item_count(), 19) << i;
    }
    // Newest first; the oldest fell off the end.
    const auto texts = menu_texts(history_menu);
    ASSERT_EQ(texts.size(), 19u);
    EXPECT_EQ(texts.front(), "item25|M|1.00");
    EXPECT_EQ(texts.back(), "item7|M|1.00");
    EXPECT_EQ(history_menu.get_menu_item_id(0), 13146);
    EXPECT_EQ(history_menu.get_menu_item_id(18), 13165);

    // A restart shows the same 19, shifted one position by the leading empty part.
    lists().rebuild_history_menu("");
    EXPECT_EQ(menu_texts(history_menu), texts);
    EXPECT_EQ(history_menu.get_menu_item_id(0), 13147);
    EXPECT_EQ(history_menu.get_menu_item_id(18), 13165);
}

TEST_F(ListsTest, HistoryWrittenByOthersIsCutAtTwentyPositions)
{
    // A value without the leading separator (hand-edited) keeps 20 entries, empty parts count.
    Text value;
    for (int i = 1; i <= 22; ++i)
        value += (i == 1 ? "" : "|*|") + ("e" + std::to_string(i));
    put(section_ls, key_history, value);
    lists().rebuild_history_menu("");
    EXPECT_EQ(history_menu.menu_item_count(), 20);
    EXPECT_EQ(menu_texts(history_menu).back(), "e20");

    put(section_ls, key_history, "|*||*|a|*||*|b");
    lists().rebuild_history_menu("");
    EXPECT_EQ(menu_ids(history_menu), (std::vector<int>{13148, 13150}));
    EXPECT_EQ(setting(section_ls, key_history), "|*|a|*|b");
}

TEST_F(ListsTest, RemembersShopsClerkAndAddressAcrossRestarts)
{
    lists().load_remembered_values({});
    shop_box.set_control_text("新世界百货"_gbk);
    clerk_edit.set_control_text("店员甲"_gbk);
    address_edit.set_control_text("新世界百货购物广场店"_gbk);
    lists().remember_shop_values();
    EXPECT_EQ(setting(section_print, key_shops), "0,新世界百货"_gbk);
    EXPECT_EQ(setting(section_print, key_clerk), "店员甲"_gbk);
    EXPECT_EQ(setting(section_print, key_address), "新世界百货购物广场店"_gbk);

    restart();
    lists().load_remembered_values({});
    EXPECT_EQ(shop_box.items(), (std::vector<Text>{"新世界百货"_gbk}));
    EXPECT_EQ(shop_box.get_selection(), 0);
    EXPECT_EQ(shop_box.get_control_text(), "新世界百货"_gbk);
    EXPECT_EQ(clerk_edit.get_control_text(), "店员甲"_gbk);
    EXPECT_EQ(address_edit.get_control_text(), "新世界百货购物广场店"_gbk);
}

TEST_F(ListsTest, ShopValueReadAtStart)
{
    struct Case
    {
        const char* what;
        Text dm;
        std::vector<Text> entries;
        int selection;
    };
    const std::vector<Case> cases = {
        {"second selected", "1,东方商场,新世界百货"_gbk, {"东方商场"_gbk, "新世界百货"_gbk}, 1},
        {"none selected", "-1,东方商场"_gbk, {"东方商场"_gbk}, -1},
        {"index beyond the list", "5,东方商场"_gbk, {"东方商场"_gbk}, -1},
        {"index not a number reads 0", "x,东方商场"_gbk, {"东方商场"_gbk}, 0},
        {"a lone index restores nothing", "0", {}, -1},
        {"empty", "", {}, -1},
        {"a comma in a name made two shops", "0,万达,东区店"_gbk, {"万达"_gbk, "东区店"_gbk}, 0},
        {"empty name in the middle is kept", "2,a,,b", {"a", "", "b"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        put(section_print, key_shops, c.dm);
        lists().load_remembered_values({});
        EXPECT_EQ(shop_box.items(), c.entries);
        EXPECT_EQ(shop_box.get_selection(), c.selection);
    }
}

TEST_F(ListsTest, PrintingAddsANewShopAndStoresItsIndex)
{
    put(section_print, key_shops, "0,新世界百货"_gbk);
    lists().load_remembered_values({});
    ASSERT_EQ(shop_box.get_selection(), 0);

    struct Step
    {
        const char* what;
        Text typed;
        Text dm;
        std::vector<Text> entries;
    };
    const std::vector<Step> steps = {
        {"new name while 新世界百货 is selected",
         "东方商场"_gbk,
         "1,新世界百货,东方商场"_gbk,
         {"新世界百货"_gbk, "东方商场"_gbk}},
        // The new entry is not selected in the box, so a known name stores the box's selection.
        {"a known name stores the selection",
         "东方商场"_gbk,
         "0,新世界百货,东方商场"_gbk,
         {"新世界百货"_gbk, "东方商场"_gbk}},
        {"an empty name is added as an empty shop",
         "",
         "2,新世界百货,东方商场,"_gbk,
         {"新世界百货"_gbk, "东方商场"_gbk, ""}},
        {"a name with a comma is stored as it is",
         "万达,东区店"_gbk,
         "3,新世界百货,东方商场,,万达,东区店"_gbk,
         {"新世界百货"_gbk, "东方商场"_gbk, "", "万达,东区店"_gbk}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        shop_box.set_control_text(s.typed);
        lists().remember_shop_values();
        EXPECT_EQ(setting(section_print, key_shops), s.dm);
        EXPECT_EQ(shop_box.items(), s.entries);
        EXPECT_EQ(shop_box.get_selection(), 0);
    }

    // The comma splits the name at the next start; the empty shop in the middle is kept.
    restart();
    lists().load_remembered_values({});
    EXPECT_EQ(shop_box.items(),
              (std::vector<Text>{"新世界百货"_gbk, "东方商场"_gbk, "", "万达"_gbk, "东区店"_gbk}));
    EXPECT_EQ(shop_box.get_selection(), 3);
}

TEST_F(ListsTest, RemoveShop)
{
    struct Case
    {
        const char* what;
        Text dm_before;
        Text typed;
        Text dm_after;
        std::vector<Text> entries;
        int selection;
        Text field;
    };
    const std::vector<Case> cases = {
        {"first of two",
         "0,新世界百货,东方商场"_gbk,
         "新世界百货"_gbk,
         "0,东方商场"_gbk,
         {"东方商场"_gbk},
         0,
         "东方商场"_gbk},
        {"middle of three selects the last", "0,a,b,c", "b", "1,a,c", {"a", "c"}, 1, "c"},
        {"no match selects the first", "1,a,b", "zzz", "0,a,b", {"a", "b"}, 0, "a"},
        {"only entry", "0,a", "a", "-1", {}, -1, ""},
        {"empty list", "", "typed", "0", {}, -1, ""},
        {"first equal entry only", "0,a,b,a", "a", "1,b,a", {"b", "a"}, 1, "a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        put(section_print, key_shops, c.dm_before);
        lists().load_remembered_values({});
        shop_box.set_control_text(c.typed);
        lists().remove_shop();
        EXPECT_EQ(setting(section_print, key_shops), c.dm_after);
        EXPECT_EQ(shop_box.items(), c.entries);
        EXPECT_EQ(shop_box.get_selection(), c.selection);
        EXPECT_EQ(shop_box.get_control_text(), c.field);
    }
}

TEST_F(ListsTest, RememberedPrinterIsSelectedOnlyWhileInstalled)
{
    struct Case
    {
        const char* what;
        Text remembered;
        TextList installed;
        int selection;
    };
    const std::vector<Case> cases = {
        {"installed", "counter", {"lobby", "counter", "office"}, 1},
        {"vanished", "old-one", {"lobby", "counter"}, -1},
        {"no printers", "counter", {}, -1},
        {"names compare exactly", "Counter", {"counter"}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        restart();
        put(section_dayinji, key_printer, c.remembered);
        lists().load_remembered_values(printers_of(c.installed));
        EXPECT_EQ(printer_box.items(), c.installed);
        EXPECT_EQ(printer_box.get_selection(), c.selection);
        // The remembered name stays in force either way.
        EXPECT_EQ(lists().printer_name(), c.remembered);
        EXPECT_EQ(setting(section_dayinji, key_printer), c.remembered);
    }
}

TEST_F(ListsTest, ChoosingAPrinterRemembersIt)
{
    put(section_dayinji, key_printer, "old-one");
    lists().load_remembered_values(printers_of({"lobby", "counter"}));
    printer_box.on_selection_changed([this] { lists().remember_printer(); });
    printer_box.choose(1);
    EXPECT_EQ(lists().printer_name(), "counter");
    EXPECT_EQ(setting(section_dayinji, key_printer), "counter");

    restart();
    lists().load_remembered_values(printers_of({"lobby", "counter"}));
    EXPECT_EQ(printer_box.get_selection(), 1);
}

// Each action of the user writes the settings file once, however many values it saves, and leaves the
// bytes that writing those values one after another leaves: the start's tidied history, a tick, an added
// line, "X", a chosen printer and, with three values, "开始打印".
TEST_F(ListsTest, EachActionWritesTheFileOnceWithTheBytesOfSingleWrites)
{
    using Key = std::pair<std::string_view, std::string_view>;
    struct Row
    {
        const char* what;
        std::function<void()> action;
        std::vector<Key> saved;
    };
    const std::vector<Row> rows = {
        {"start with a history to tidy",
         [&] { lists().rebuild_history_menu(""); },
         {{section_ls, key_history}}},
        {"brand ticked", [&] { lists().on_menu_command(brand_id(2)); }, {{section_print, key_ticked_brands}}},
        {"line added",
         [&] { lists().rebuild_history_menu("短袖|L|89.00"_gbk); },
         {{section_ls, key_history}}},
        {"shop removed",
         [&] {
             shop_box.set_control_text("东方商场"_gbk);
             lists().remove_shop();
         },
         {{section_print, key_shops}}},
        {"printer chosen", [&] { printer_box.choose(0); }, {{section_dayinji, key_printer}}},
        {"print pressed",
         [&] {
             shop_box.set_control_text("西单商场"_gbk);
             clerk_edit.set_control_text("李四"_gbk);
             address_edit.set_control_text("西单北大街120号"_gbk);
             lists().remember_shop_values();
         },
         {{section_print, key_shops}, {section_print, key_clerk}, {section_print, key_address}}},
    };
    const Text earlier_version = "; 打印设置\r\n"
                                 "[print]\r\n"
                                 "pplist=耐克|\r\n"
                                 "dm=0,东方商场,新世界百货\r\n"
                                 "yyy=王小明\r\n"
                                 "xsd=建国路87号\r\n"
                                 "[dayinji]\r\n"
                                 "dyjm=counter\r\n"
                                 "[ls]\r\n"
                                 "ls=|*||*|跑鞋|42|399.00\r\n"_gbk;
    const std::string one_by_one = path + ".one_by_one";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        restart();
        test_files::write_bytes(path, earlier_version);
        start_brands(builtin_names(), setting(section_print, key_ticked_brands));
        lists().load_remembered_values(printers_of({"lobby", "counter"}));
        printer_box.on_selection_changed([this] { lists().remember_printer(); });

        test_files::FileWrites writes(path);
        row.action();
        EXPECT_EQ(writes.count(), 1);
        test_files::write_bytes(one_by_one, earlier_version);
        for (const auto& [section, key] : row.saved)
            runtime::write_setting(one_by_one, section, key, setting(section, key));
        EXPECT_EQ(test_files::read_bytes(path), test_files::read_bytes(one_by_one));
    }
}

TEST_F(ListsTest, MenusOpenAtTheCursor)
{
    start_brands(builtin_names(), "");
    lists().rebuild_history_menu("");
    lists().show_brand_menu();
    lists().show_history_menu();
    lists().show_history_menu();
    EXPECT_EQ(brand_menu.times_shown(), 1);
    EXPECT_EQ(history_menu.times_shown(), 2);
}

} // namespace
} // namespace vorsa::app
