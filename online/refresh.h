#pragma once
// The start-up refresh of the brand list: the vendor's notice page is fetched and shown, the brand
// names listed in its leading comment are added to the five built-in brands and remembered in the
// settings file for offline starts, and a logo is fetched for every added brand. The network, the
// picture codec and the web view sit behind OnlineSources, so the refresh itself is plain logic.

#include "runtime/settings/settings.h"
#include "runtime/text/bytes.h"
#include "runtime/text/text.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace vorsa::online {

using runtime::Bytes;
using runtime::Text;
using runtime::TextList;

// The brands every start offers, in the order of the built-in logos.
Text builtin_brand_list();
inline constexpr int builtin_brand_count = 5;

// How long the start may wait for the vendor's server in all, page and logos together, counted from
// the start of the wait; what has not come by then counts as not fetched. Half a second short of 20 s,
// so that the rest of the start (settings, printer list, the window enabled and repainted) fits in the
// 20 s as well.
inline constexpr std::chrono::milliseconds refresh_time_limit{19500};

// The most bytes one start takes from the vendor's server, page and logos together, heads included:
// what comes beyond counts as not fetched. A normal start takes a few kilobytes per logo.
inline constexpr std::size_t refresh_byte_limit = 32 * 1024 * 1024;

// The most online brands a start offers: the first ones the page (or, offline, the settings file)
// lists, in their order. A vendor lists a handful; a menu of 100 brands already fills the screen more
// than twice. Each costs a logo request and a logo of up to 384 kB, so the bound keeps a start's work
// and memory within the start's limits however long the list a server sends.
inline constexpr std::size_t max_online_brands = 100;
// The most bytes of online brand text, commas included, a start takes; a name beyond the bound is left
// out whole. 100 names of 40 Chinese characters fit.
inline constexpr std::size_t max_online_brand_bytes = 8192;

// Paths on the vendor's server.
inline constexpr std::string_view notice_page_path = "/tarnwick/plendor/xiaopiao.htm";
inline constexpr std::string_view logo_folder_path = "/tarnwick/plendor/IMG/";

// What the refresh needs from the outside world.
class OnlineSources
{
public:
    virtual ~OnlineSources() = default;
    // The page's body as text (cut at its first zero byte); empty unless a complete 2xx answer came.
    virtual Text fetch_page(const Text& url) = 0;
    // The bodies of all URLs, in URL order; an entry is empty unless a complete 2xx answer came.
    virtual std::vector<Bytes> fetch_all(const std::vector<Text>& urls) = 0;
    // The picture as a BMP file; empty when it cannot be decoded.
    virtual Bytes convert_to_bmp(const Bytes& picture) = 0;
    // Shows the fetched page where the preview will later appear.
    virtual void show_notice(const Text& page) = 0;
    // True once the start has been given up on the way (its window closed): the refresh then ends
    // without writing anything.
    virtual bool abandoned() const { return false; }
    // True once the start's time is up: logos not converted by then are left empty.
    virtual bool out_of_time() const { return false; }
};

struct OnlineBrands
{
    Text notice_page;               // empty when the server did not answer
    TextList brand_names;           // the built-in brands, then the online ones
    std::vector<Bytes> brand_logos; // BMP pictures parallel to brand_names; an entry may be empty
};

// The brand names between the page's 4-byte comment opener and the first "-->"; empty without one.
// online_refresh turns each line break among them into a blank before it splits and stores them.
Text online_names_of(const Text& page);

// The online brand text ("," before each name) within max_online_brands names and
// max_online_brand_bytes bytes: cut before the first name beyond either bound. A text within both is
// returned as it is, a final comma included.
Text bounded_online_brands(std::string_view text);

// The logo address of a brand on the server.
Text logo_url(const Text& server_address, const Text& brand_name);

// Runs the refresh. The online brands, from the page or from the settings file, are bounded as
// bounded_online_brands does, and what is written back is the bounded text. `server_address` is
// "http://host[:port]" without a trailing "/"; empty means the program runs offline and nothing is requested.
// `builtin_logos` holds the five built-in logo pictures (any format the codec reads). Writes "onlinepingpai"
// of section "pingpai" when the page came (once the logos are in, and not at all when the start was
// abandoned) and reads it when it did not. An abandoned start returns an empty result.
OnlineBrands online_refresh(OnlineSources& sources, const std::string& settings_path,
                            const Text& server_address, const std::vector<Bytes>& builtin_logos);
// The same, with the write of "onlinepingpai" added to `changes` instead, for a start that saves it
// together with the other values it writes.
OnlineBrands online_refresh(OnlineSources& sources, const std::string& settings_path,
                            const Text& server_address, const std::vector<Bytes>& builtin_logos,
                            runtime::SettingChanges& changes);

} // namespace vorsa::online
