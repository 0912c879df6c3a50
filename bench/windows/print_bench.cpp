// A press of "开始打印" against the least GDI program that prints the same page, on the same printer, in
// the same run. The press is the program's own: app::print_receipt (the shop values saved, then the
// print job) over the Windows printer (runtime/win32/printer.h) with the settings file and controls of a
// counter whose shop, clerk and address are as stored, so that nothing is written. The baseline makes
// its device straight from a settings record that names the receipt's paper (CreateDCW), opens one
// document of one page, draws the same texts, lines and pictures at the same places in the same fonts
// with plain GDI calls (the page recorded once, untimed, from the receipt's layout), and closes it.
//
// Both end when the spooler has the document (EndDoc returned; Wine hands it to CUPS there), each press
// timed alone; the two take turns, each round in another order, and after every press the benchmark
// waits (untimed) so the spooler has passed the job on before the next one. Give it a printer whose
// queue throws its output away cheaply: scripts/bench-windows.sh makes one on a CUPS spooler of its own.
//
// Usage: windows_print_bench PRINTER [presses, default 30]

#include "app/lists.h"
#include "app/printing.h"
#include "bench/windows/bench_stats.h"
#include "receipt/layout.h"
#include "receipt/model.h"
#include "receipt/preview.h"
#include "receipt/print.h"
#include "runtime/controls/memory_controls.h"
#include "runtime/settings/settings.h"
#include "runtime/settings/settings_keys.h"
#include "runtime/surface/picture.h"
#include "runtime/surface/surface.h"
#include "runtime/text/gbk.h"
#include "runtime/win32/printer.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using namespace vorsa;
using namespace vorsa::runtime::literals;
using vorsa::bench::now_ms;
using vorsa::bench::summarize;

// The receipt both sides print: two lines, every field filled, a logo and the QR code.
struct Page
{
    receipt::ReceiptData data;
    receipt::ReceiptLines lines;
};

Page make_page()
{
    Page page;
    page.lines.append({"跑鞋"_gbk, "42"_gbk, "399.00"_gbk, "1"_gbk, "399.00"_gbk});
    page.lines.append({"短袖"_gbk, "L"_gbk, "89.00"_gbk, "2"_gbk, "178.00"_gbk});
    page.data.shop_name = "新世界百货"_gbk;
    page.data.receipt_number = receipt::make_receipt_number(4711);
    page.data.sale_date = "2024-05-17"_gbk;
    page.data.clerk_name = "店员甲"_gbk;
    page.data.shop_address = "新世界百货购物广场店"_gbk;
    page.data.total_text = receipt::total_text(page.lines);
    // A logo of the built-in logos' size, 200 x 120, in two colours.
    runtime::Bitmap logo(200, 120, 0xFFFFFFFF);
    for (int y = 30; y < 90; ++y)
        for (int x = 20; x < 180; ++x)
            logo.set_pixel(x, y, (x / 20 + y / 20) % 2 ? 0xFF1030C0 : 0xFF000000);
    page.data.logo_picture = runtime::bitmap_to_bmp(logo);
    page.data.code_picture = receipt::make_code_picture(receipt::make_code_text("耐克"_gbk, page.lines));
    return page;
}

// --- The page as plain GDI draws it ---------------------------------------------------------------

// One drawing call of the page, in 0.1 mm.
struct Call
{
    enum class Kind
    {
        text,
        line,
        picture
    };
    Kind kind = Kind::text;
    int x = 0, y = 0;              // text and picture: top-left corner; line: start
    int to_x = 0, to_y = 0;        // line: end
    int width = 0, height = 0;     // picture
    runtime::FontDescription font; // text: height in 0.1 mm
    std::wstring text;
    runtime::Bitmap bitmap;
};

// Writes down what the receipt's layout draws on a page of the given resolution, in 0.1 mm.
class PageRecorder : public runtime::DrawingSurface
{
public:
    explicit PageRecorder(int dpi) : m_dpi(dpi) {}
    std::vector<Call> calls;

protected:
    bool has_target() const override { return true; }
    int device_resolution(runtime::Axis) const override { return m_dpi; }
    runtime::Size drawing_area() const override { return {1200, 1400}; }
    void render_line(runtime::Point from, runtime::Point to) override
    {
        Call call;
        call.kind = Call::Kind::line;
        call.x = from.x;
        call.y = from.y;
        call.to_x = to.x;
        call.to_y = to.y;
        calls.push_back(std::move(call));
    }
    void render_rectangle(int, int, int, int) override {}
    void render_text(runtime::Point at, const runtime::Text& text) override
    {
        const std::u16string wide = runtime::utf16_from_gbk(text);
        Call call;
        call.x = at.x;
        call.y = at.y;
        call.font = current_font();
        call.text.assign(wide.begin(), wide.end());
        calls.push_back(std::move(call));
    }
    void render_picture(const runtime::Bitmap& bitmap, int x, int y, int width, int height) override
    {
        Call call;
        call.kind = Call::Kind::picture;
        call.x = x;
        call.y = y;
        call.width = width;
        call.height = height;
        call.bitmap = bitmap;
        calls.push_back(std::move(call));
    }
    void render_background(int, int, int, int) override {}

private:
    int m_dpi;
};

HFONT make_gdi_font(const runtime::FontDescription& description)
{
    LOGFONTW font{};
    font.lfHeight = description.height;
    font.lfWeight = description.is_bold() ? runtime::weight_bold : FW_DONTCARE;
    font.lfCharSet = DEFAULT_CHARSET;
    const std::u16string face = runtime::utf16_from_gbk(description.face);
    for (std::size_t i = 0; i < face.size() && i < LF_FACESIZE - 1; ++i)
        font.lfFaceName[i] = static_cast<wchar_t>(face[i]);
    return CreateFontIndirectW(&font);
}

// One document of one page with the recorded calls: what a program that prints this page and nothing
// else does. True when the spooler took the document.
bool print_plain(const std::wstring& printer, short paper, const std::vector<Call>& calls)
{
    DEVMODEW settings{};
    settings.dmSize = sizeof settings;
    settings.dmFields = DM_ORIENTATION | DM_PAPERSIZE;
    settings.dmOrientation = DMORIENT_PORTRAIT;
    settings.dmPaperSize = paper;
    const HDC dc = CreateDCW(L"WINSPOOL", printer.c_str(), nullptr, &settings);
    if (!dc) return false;
    DOCINFOW document{};
    document.cbSize = sizeof document;
    document.lpszDocName = L"";
    bool printed = false;
    if (StartDocW(dc, &document) > 0) {
        StartPage(dc);
        SetMapMode(dc, MM_ANISOTROPIC);
        SetWindowExtEx(dc, 254, 254, nullptr);
        SetViewportExtEx(dc, GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY), nullptr);
        SetBkMode(dc, TRANSPARENT);
        SetTextAlign(dc, TA_LEFT | TA_TOP | TA_NOUPDATECP);
        SetStretchBltMode(dc, HALFTONE);
        HFONT font = nullptr;
        const HGDIOBJ original_font = GetCurrentObject(dc, OBJ_FONT);
        std::optional<runtime::FontDescription> selected;
        for (const Call& call : calls) {
            switch (call.kind) {
            case Call::Kind::text:
                if (!selected || !(*selected == call.font)) {
                    const HFONT next = make_gdi_font(call.font);
                    SelectObject(dc, next);
                    if (font) DeleteObject(font);
                    font = next;
                    selected = call.font;
                }
                TextOutW(dc, call.x, call.y, call.text.data(), static_cast<int>(call.text.size()));
                break;
            case Call::Kind::line:
                MoveToEx(dc, call.x, call.y, nullptr);
                LineTo(dc, call.to_x, call.to_y);
                break;
            case Call::Kind::picture: {
                BITMAPINFO info{};
                info.bmiHeader.biSize = sizeof info.bmiHeader;
                info.bmiHeader.biWidth = call.bitmap.width;
                info.bmiHeader.biHeight = -call.bitmap.height;
                info.bmiHeader.biPlanes = 1;
                info.bmiHeader.biBitCount = 32;
                info.bmiHeader.biCompression = BI_RGB;
                StretchDIBits(dc, call.x, call.y, call.width, call.height, 0, 0, call.bitmap.width,
                              call.bitmap.height, call.bitmap.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
                break;
            }
            }
        }
        SelectObject(dc, original_font);
        if (font) DeleteObject(font);
        EndPage(dc);
        printed = EndDoc(dc) > 0;
    }
    DeleteDC(dc);
    return printed;
}

// The driver's code of the paper named `name`, 0 when it names none.
short paper_code(const std::wstring& printer, const std::wstring& name)
{
    const int count = DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERS, nullptr, nullptr);
    if (count <= 0) return 0;
    std::vector<WORD> codes(static_cast<std::size_t>(count));
    std::vector<wchar_t> names(static_cast<std::size_t>(count) * 64);
    DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERS, reinterpret_cast<LPWSTR>(codes.data()), nullptr);
    DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERNAMES, names.data(), nullptr);
    for (int i = 0; i < count; ++i)
        if (std::wstring(names.data() + 64 * i, wcsnlen(names.data() + 64 * i, 64)) == name)
            return static_cast<short>(codes[static_cast<std::size_t>(i)]);
    return 0;
}

// --- The program's press ------------------------------------------------------------------------------

// The counter's lists over controls in memory, with a settings file that remembers the printer, the shop
// (selected), the clerk and the address, loaded as at start.
class Counter
{
public:
    Counter(const std::string& settings_path, const runtime::Text& printer)
        : m_shop_box(true),
          m_lists({m_brand_box, m_shop_box, m_printer_box, m_product_edit, m_size_edit, m_price_edit,
                   m_clerk_edit, m_address_edit, m_brand_menu, m_history_menu},
                  settings_path)
    {
        runtime::write_settings(settings_path, {{section_print, key_shops, "0,新世界百货"_gbk},
                                                {section_print, key_clerk, "店员甲"_gbk},
                                                {section_print, key_address, "新世界百货购物广场店"_gbk},
                                                {section_dayinji, key_printer, printer}});
        m_lists.load_remembered_values([printer](runtime::TextList& names) {
            names = {printer};
            return 1;
        });
    }
    app::Lists& lists() { return m_lists; }

private:
    runtime::MemoryDropDownList m_brand_box, m_shop_box, m_printer_box;
    runtime::MemoryEditBox m_product_edit, m_size_edit, m_price_edit, m_clerk_edit, m_address_edit;
    runtime::MemoryPopupMenu m_brand_menu, m_history_menu;
    app::Lists m_lists;
};

std::string settings_file()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"vorsa_print_bench_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\dy.cfg";
    DeleteFileW(file.c_str());
    return runtime::gbk_from_utf16(std::u16string(file.begin(), file.end()));
}

std::string narrow(const std::wstring& text)
{
    return runtime::utf8_from_gbk(runtime::gbk_from_utf16(std::u16string(text.begin(), text.end())));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: windows_print_bench PRINTER [presses]\n");
        return 2;
    }
    const std::wstring printer = argv[1];
    const int presses = argc > 2 ? std::max(1, _wtoi(argv[2])) : 30;
    const runtime::Text printer_text =
        runtime::printer_text_from_spooler_name(std::u16string(printer.begin(), printer.end()));
    // As the program sizes its fonts on a screen of 96 dpi.
    runtime::set_screen_dpi_source([] { return 96; });

    const Page page = make_page();
    const short paper = paper_code(printer, L"120 x 140 mm");
    if (paper == 0) {
        std::fprintf(stderr, "windows_print_bench: %s names no 120 x 140 mm paper\n",
                     narrow(printer).c_str());
        return 1;
    }
    // The page at the printer's resolution, recorded from the layout as the program draws it.
    int dpi = 0;
    {
        runtime::Printer probe;
        if (!probe.prepare_printer(printer_text, receipt::receipt_page_request())) {
            std::fprintf(stderr, "windows_print_bench: no device for %s\n", narrow(printer).c_str());
            return 1;
        }
        dpi = GetDeviceCaps(probe.page_surface().device(), LOGPIXELSY);
        probe.close_printer();
    }
    PageRecorder recorder(dpi);
    recorder.set_mapping_mode(runtime::mapping_tenth_mm);
    receipt::draw_receipt_print(recorder, page.data, page.lines);

    Counter counter(settings_file(), printer_text);
    runtime::Printer program_printer;
    std::vector<double> press_ms, plain_ms;
    int failures = 0;
    // Each press is followed by this pause, untimed, in which the spooler passes the job on.
    const DWORD settle_ms = 300;
    const int warm_up = 2;
    for (int round = 0; round < warm_up + presses; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool program_turn = (turn + round) % 2 == 0;
            const double started = now_ms();
            bool printed = false;
            if (program_turn) {
                const int before = program_printer.last_job_id();
                app::print_receipt(counter.lists(), program_printer, page.data, page.lines);
                printed = program_printer.last_job_id() != before;
            } else {
                printed = print_plain(printer, paper, recorder.calls);
            }
            const double elapsed = now_ms() - started;
            if (!printed) {
                ++failures;
                std::fprintf(stderr, "round %d: the %s was not taken by the spooler (%.1f ms)\n", round,
                             program_turn ? "press" : "least GDI program's page", elapsed);
            }
            if (round >= warm_up) (program_turn ? press_ms : plain_ms).push_back(elapsed);
            Sleep(settle_ms);
        }
    }

    const auto press = summarize(press_ms);
    const auto plain = summarize(plain_ms);
    std::printf("Printing under Wine on %s (%d dpi), %d presses of each after %d warm-up rounds\n\n",
                narrow(printer).c_str(), dpi, presses, warm_up);
    std::printf("| | median | minimum | maximum | ratio |\n|---|---|---|---|---|\n");
    std::printf(
        "| press of \"开始打印\" (print_receipt, runtime::Printer) | %.1f ms | %.1f ms | %.1f ms | %.2fx |\n",
        press.median, press.minimum, press.maximum, plain.median > 0 ? press.median / plain.median : 0.0);
    std::printf("| least GDI program, same page | %.1f ms | %.1f ms | %.1f ms | 1 |\n", plain.median,
                plain.minimum, plain.maximum);
    if (failures) std::printf("%d print(s) were not taken by the spooler\n", failures);
    return failures ? 1 : 0;
}
