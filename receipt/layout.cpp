#include "receipt/layout.h"

#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"

#include <cmath>

namespace vorsa::receipt {

using namespace runtime::literals;

namespace {

struct Rule
{
    int x1, y1, x2, y2;
};

// Rules in drawing order: above the headings, the double rule under them, the short rule above the
// totals and the double rule above the footer.
constexpr Rule rules[] = {
    {70, 509, 1060, 509},  {70, 580, 1060, 580},   {70, 582, 1060, 582},
    {450, 800, 1060, 800}, {70, 1070, 1060, 1070}, {70, 1072, 1060, 1072},
};

// Layout x of the column headings and of the item columns: both sets are fixed on their own.
constexpr int heading_x[] = {95, 310, 580, 760, 940};
constexpr int heading_y = 525;
constexpr int item_x[] = {75, 335, 570, 790, 930};
constexpr int item_first_y = 595;
constexpr int item_step = 40;

const Text& face()
{
    static const Text song = "宋体"_gbk;
    return song;
}

// Positions on the surface: layout units scaled by K and, for shifted elements, moved by X0, then
// truncated toward zero.
class Placement
{
public:
    explicit Placement(const LayoutParameters& parameters) : m_parameters(parameters) {}

    int x(int layout_x) const { return trunc(m_parameters.scale * layout_x + m_parameters.shift); }
    int unshifted_x(int layout_x) const { return trunc(m_parameters.scale * layout_x); }
    int y(int layout_y) const { return trunc(m_parameters.scale * layout_y); }
    int size(int layout_size) const { return trunc(m_parameters.scale * layout_size); }

private:
    static int trunc(double value) { return static_cast<int>(std::trunc(value)); }
    const LayoutParameters& m_parameters;
};

void draw_picture_bytes(runtime::DrawingSurface& surface, const Bytes& bytes, int x, int y, int width,
                        int height)
{
    const auto bitmap = runtime::picture_from_bytes(bytes);
    if (bitmap) surface.draw_picture(*bitmap, x, y, width, height);
}

} // namespace

Text receipt_face()
{
    return face();
}

void draw_receipt(runtime::DrawingSurface& surface, const LayoutParameters& parameters,
                  const ReceiptData& data, const ReceiptLines& lines)
{
    static const Text headings[] = {"商品"_gbk, "尺码"_gbk, "单价"_gbk, "数量"_gbk, "金额"_gbk};
    static const Text title = "授权经销商  "_gbk;
    static const Text number = "单据号         "_gbk;
    static const Text date = "销售单日期     "_gbk;
    static const Text category = "类别    正常"_gbk;
    static const Text clerk = "营业员： "_gbk;
    static const Text shift = "   班次： C"_gbk;
    static const Text vip = "贵宾： N"_gbk;
    static const Text total_label = "合计："_gbk;
    static const Text cash_label = "收银："_gbk;
    static const Text points_label = "积分："_gbk;
    static const Text change_label = "找零："_gbk;
    static const Text change = "  0.00"_gbk;
    static const Text reminder = "温馨提示：本小票为商品退换货凭证，请妥善保管"_gbk;
    static const Text thanks = "THANK YOU! WELCOME BACK AGAIN!"_gbk;
    static const Text copies = "一联存根(白)   二联客户(红)   三联财务(黄)"_gbk;

    const Placement at(parameters);

    surface.set_text_color(runtime::colour_black);
    if (parameters.clear_and_frame) {
        surface.clear_board();
        surface.draw_rectangle(0, 0, preview_width, preview_height);
    }

    // The logo is the one element that is not shifted.
    draw_picture_bytes(surface, data.logo_picture, at.unshifted_x(90), at.y(100), at.size(280), at.size(168));
    draw_picture_bytes(surface, data.code_picture, at.x(70), at.y(790), at.size(280), at.size(280));

    for (const Rule& rule : rules)
        surface.draw_line(at.x(rule.x1), at.y(rule.y1), at.x(rule.x2), at.y(rule.y2));

    const auto font = [&](int points, bool bold) {
        return parameters.font_dpi > 0 ? runtime::make_font_at(parameters.font_dpi, face(), points, bold)
                                       : runtime::make_font(face(), points, bold);
    };
    surface.set_font(font(parameters.font_a_points, true));
    for (int column = 0; column < 5; ++column)
        surface.draw_string(at.x(heading_x[column]), at.y(heading_y), headings[column]);

    surface.set_font(font(parameters.font_b_points, true));
    surface.draw_string(at.x(380), at.y(100), title + data.shop_name);

    surface.set_font(font(parameters.font_c_points, false));
    surface.draw_string(at.x(380), at.y(175), number + data.receipt_number);
    surface.draw_string(at.x(380), at.y(240), date + data.sale_date);
    surface.draw_string(at.x(550), at.y(310), category);
    surface.draw_string(at.x(550), at.y(410), clerk + data.clerk_name + shift);
    surface.draw_string(at.x(550), at.y(460), vip);
    surface.draw_string(at.x(750), at.y(840), total_label);
    surface.draw_string(at.x(80), at.y(380), data.shop_address);
    surface.draw_string(at.x(750), at.y(890), cash_label);
    surface.draw_string(at.x(750), at.y(940), points_label);
    surface.draw_string(at.x(750), at.y(990), change_label);
    surface.draw_string(at.x(930), at.y(840), data.total_text);
    surface.draw_string(at.x(930), at.y(890), data.total_text);
    surface.draw_string(at.x(930), at.y(940), data.total_text);
    surface.draw_string(at.x(930), at.y(990), change);
    surface.draw_string(at.x(200), at.y(1095), reminder);
    surface.draw_string(at.x(310), at.y(1145), thanks);
    surface.draw_string(at.x(212), at.y(1195), copies);

    // The row step is added before scaling, so every row lands on its own truncated position.
    for (int row = 1; row <= ReceiptLines::rows; ++row) {
        const int y = at.y(item_step * (row - 1) + item_first_y);
        for (int column = 1; column <= ReceiptLines::columns; ++column) {
            const Text& cell = lines.cell(row, static_cast<Column>(column));
            if (!cell.empty()) surface.draw_string(at.x(item_x[column - 1]), y, cell);
        }
    }
}

void draw_receipt_preview(runtime::DrawingSurface& surface, const ReceiptData& data,
                          const ReceiptLines& lines)
{
    draw_receipt(surface, preview_layout, data, lines);
}

void draw_receipt_print(runtime::DrawingSurface& surface, const ReceiptData& data, const ReceiptLines& lines)
{
    draw_receipt(surface, print_layout, data, lines);
}

} // namespace vorsa::receipt
