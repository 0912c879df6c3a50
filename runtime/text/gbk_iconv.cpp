#include "runtime/text/gbk.h"
#include "runtime/text/unicode.h"

#include <bit>
#include <cassert>
#include <cerrno>
#include <iconv.h>

namespace vorsa::runtime {

namespace {

constexpr const char* gbk_name = "CP936";
constexpr const char* utf8_name = "UTF-8";
constexpr const char* utf16_name = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// One conversion direction, opened on first use and kept for the thread: opening a descriptor costs far
// more than a short conversion, and texts pass through here all the time.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from))
    {
        assert(m_cd != reinterpret_cast<iconv_t>(-1) && "the C library lacks a GBK converter");
    }
    ~Converter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool usable() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Outcome of converting as much of the input as possible.
    enum class Stop
    {
        done,
        bad_input,
        truncated_input
    };

    // Converts from `in` and appends to `out`, advancing `in` past what was consumed. Stops at the end,
    // at a sequence iconv refuses (bad or unmappable) or at a sequence cut off by the end.
    Stop convert(const char*& in, std::size_t& in_left, std::string& out)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        while (true) {
            const std::size_t used = out.size();
            // Every direction here writes at most four bytes per input byte.
            const std::size_t room = in_left * 4 + 16;
            out.resize(used + room);
            char* dst = out.data() + used;
            std::size_t dst_left = room;
            char* src = const_cast<char*>(in);
            const std::size_t result = iconv(m_cd, &src, &in_left, &dst, &dst_left);
            const int error = errno;
            in = src;
            out.resize(used + (room - dst_left));
            if (result != static_cast<std::size_t>(-1)) return Stop::done;
            if (error == E2BIG) continue;
            if (error == EINVAL) return Stop::truncated_input;
            return Stop::bad_input;
        }
    }

private:
    iconv_t m_cd;
};

Converter& utf8_to_gbk()
{
    thread_local Converter c(gbk_name, utf8_name);
    return c;
}
Converter& gbk_to_utf8()
{
    thread_local Converter c(utf8_name, gbk_name);
    return c;
}
Converter& utf16_to_gbk()
{
    thread_local Converter c(gbk_name, utf16_name);
    return c;
}
Converter& gbk_to_utf16()
{
    thread_local Converter c(utf16_name, gbk_name);
    return c;
}

// Decodes GBK into `out` in the encoding of `c`; `replacement` is U+FFFD in that encoding.
void decode_gbk(Converter& c, std::string_view gbk, std::string_view replacement, std::string& out)
{
    const char* in = gbk.data();
    std::size_t left = gbk.size();
    while (left > 0) {
        const Converter::Stop stop = c.convert(in, left, out);
        if (stop == Converter::Stop::done) break;
        // A bad byte, or what remains of a cut-off character: one replacement per byte, then go on
        // with the next byte so a valid character right after a stray lead byte survives.
        out.append(replacement);
        ++in;
        --left;
    }
}

} // namespace

Text gbk_from_utf8(std::string_view utf8)
{
    Text out;
    Converter& c = utf8_to_gbk();
    if (!c.usable()) return out;
    out.reserve(utf8.size());
    const char* in = utf8.data();
    std::size_t left = utf8.size();
    while (left > 0) {
        if (c.convert(in, left, out) == Converter::Stop::done) break;
        // Either a character GBK cannot hold (skipped whole) or a malformed byte (skipped alone).
        const auto character = utf8_char_at(utf8, utf8.size() - left);
        const std::size_t skip = character ? character->length : 1;
        out.push_back('?');
        in += skip;
        left -= skip;
    }
    return out;
}

std::string utf8_from_gbk(std::string_view gbk)
{
    std::string out;
    Converter& c = gbk_to_utf8();
    if (!c.usable()) return out;
    out.reserve(gbk.size() * 3 / 2);
    decode_gbk(c, gbk, "\xEF\xBF\xBD", out);
    return out;
}

Text gbk_from_utf16(std::u16string_view utf16)
{
    Text out;
    Converter& c = utf16_to_gbk();
    if (!c.usable()) return out;
    out.reserve(utf16.size() * 2);
    const char* in = reinterpret_cast<const char*>(utf16.data());
    std::size_t left = utf16.size() * sizeof(char16_t);
    while (left >= sizeof(char16_t)) {
        if (c.convert(in, left, out) == Converter::Stop::done) break;
        // iconv stops on whole code units, so `in` is aligned here. A surrogate pair is one character.
        const std::size_t at = utf16.size() - left / sizeof(char16_t);
        const bool pair =
            at + 1 < utf16.size() && is_high_surrogate(utf16[at]) && is_low_surrogate(utf16[at + 1]);
        const std::size_t skip = (pair ? 2 : 1) * sizeof(char16_t);
        out.push_back('?');
        in += skip;
        left -= skip;
    }
    return out;
}

std::u16string utf16_from_gbk(std::string_view gbk)
{
    std::u16string result;
    Converter& c = gbk_to_utf16();
    if (!c.usable()) return result;
    std::string out;
    out.reserve(gbk.size() * 2);
    static constexpr char16_t replacement_unit = 0xFFFD;
    decode_gbk(c, gbk, {reinterpret_cast<const char*>(&replacement_unit), sizeof replacement_unit}, out);
    assert(out.size() % sizeof(char16_t) == 0);
    result.resize(out.size() / sizeof(char16_t));
    out.copy(reinterpret_cast<char*>(result.data()), out.size());
    return result;
}

} // namespace vorsa::runtime
