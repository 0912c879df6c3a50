#include "runtime/text/fatal.h"

#include "runtime/text/gbk.h"

#include <array>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string_view>

namespace vorsa::runtime {

namespace {

// The fault texts, numbered from 1 like Fault.
constexpr std::array<std::string_view, 11> fault_texts = {
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用外部函数后发现堆栈错误，通常是参数数目不正确",
    "参数表达式未返回数据或者返回了非基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "选择命令的索引值参数小于零或超出了所提供参数表范围",
    "重新定义数组时数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

// Title and "内存不足" as GBK bytes written out: reporting exhausted memory must not need a conversion.
// Both fit in a string's inline buffer, so making the Text values allocates nothing either.
constexpr char error_title[] = "error";
constexpr char out_of_memory_text[] = "\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3";

void write_to_standard_error(const Text& title, const Text& message)
{
    const std::string line = "[" + utf8_from_gbk(title) + "] " + utf8_from_gbk(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::atomic<FatalHandler> current_handler{nullptr};
std::atomic<bool> reporting{false};

[[noreturn]] void report_and_exit(const Text& title, const Text& message)
{
    // A fault while reporting one (memory running out inside the handler, say) ends the program at once
    // instead of recursing.
    if (!reporting.exchange(true)) {
        const FatalHandler handler = current_handler.load();
        try {
            (handler ? handler : write_to_standard_error)(title, message);
        } catch (...) {
        }
    }
    // Static destructors could touch the very state that failed.
    std::_Exit(1);
}

} // namespace

void set_fatal_handler(FatalHandler handler)
{
    current_handler.store(handler);
}

FatalHandler fatal_handler()
{
    return current_handler.load();
}

Text fault_message(Fault fault)
{
    const auto number = static_cast<int>(fault);
    assert(number >= 1 && number <= static_cast<int>(fault_texts.size()));
    char head[64];
    std::snprintf(head, sizeof head, "program internal error number is %d. \r\n", number);
    if (number < 1 || number > static_cast<int>(fault_texts.size())) return head;
    return head + gbk_from_utf8(fault_texts[static_cast<std::size_t>(number) - 1]);
}

void fatal_error(Fault fault)
{
    report_and_exit(error_title, fault_message(fault));
}

void out_of_memory()
{
    report_and_exit(error_title, out_of_memory_text);
}

void install_out_of_memory_handler()
{
    std::set_new_handler(&out_of_memory);
}

} // namespace vorsa::runtime
