// Our QR code encoder side by side with libqrencode and Nayuki's qrcodegen, on the inputs in
// bench/data. Times one encode to the module grid per library and input (the version chosen is the
// "version" counter), and the picture writing of our symbols on its own.
//
//   qr_bench [benchmark options]            Google Benchmark run
//   qr_bench --loop LIBRARY INPUT COUNT     COUNT encodes without the framework, for instruction counts
//   qr_bench --list                         the library and input names
//   qr_bench --check                        our symbols against qrcodegen's from the same data codewords

#include "qr/qr_code.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <qrcodegen/qrcodegen.hpp>
#include <qrencode.h>
#include <sstream>
#include <string>
#include <vector>

// Exported by libqrencode but not declared in its header: encoding with a fixed mask pattern, the
// like-for-like baseline for our encoder, which applies the requested pattern without evaluating others.
extern "C" QRcode* QRcode_encodeMask(QRinput* input, int mask);
// Also exported and undeclared: libqrencode's own segmentation of a NUL-terminated string.
extern "C" int Split_splitStringToQRinput(const char* string, QRinput* input, QRencodeMode hint,
                                          int casesensitive);

namespace {

struct Input
{
    const char* name;
    const char* file;
    std::string data;
};

std::vector<Input>& inputs()
{
    static std::vector<Input> list = {
        {"ascii_40", "ascii_40.txt", {}},     {"receipt_150", "receipt_gbk.txt", {}},
        {"text_1000", "text_1000.txt", {}},   {"max_2953", "bytes_2953.bin", {}},
        {"kanji_360", "kanji_text.sjis", {}},
    };
    return list;
}

bool load_inputs()
{
    const char* directory = std::getenv("VORSA_BENCH_DATA");
    for (Input& input : inputs()) {
        std::ifstream file(std::string(directory ? directory : VORSA_BENCH_DATA) + "/" + input.file,
                           std::ios::binary);
        if (!file) {
            std::fprintf(stderr, "qr_bench: cannot read %s\n", input.file);
            return false;
        }
        std::stringstream bytes;
        bytes << file.rdbuf();
        input.data = bytes.str();
    }
    return true;
}

// One encode at level L with an automatic version; returns the version chosen, 0 when none.
using Encode = int (*)(const std::string& data);

int ours(const std::string& data)
{
    const auto symbol = vorsa::qr::encode_bytes(data, vorsa::qr::ErrorLevel::low, 0, 0);
    benchmark::DoNotOptimize(symbol);
    return symbol ? symbol->version() : 0;
}

int finish_qrencode(QRcode* code)
{
    const int version = code ? code->version : 0;
    benchmark::DoNotOptimize(code ? code->data : nullptr);
    QRcode_free(code);
    return version;
}

int qrencode_mask0(const std::string& data)
{
    QRinput* input = QRinput_new2(0, QR_ECLEVEL_L);
    QRinput_append(input, QR_MODE_8, static_cast<int>(data.size()),
                   reinterpret_cast<const unsigned char*>(data.data()));
    const int version = finish_qrencode(QRcode_encodeMask(input, 0));
    QRinput_free(input);
    return version;
}

// libqrencode's own mode split (Kanji allowed); stops at a zero byte, so text inputs only.
int qrencode_split_mask0(const std::string& data)
{
    if (std::memchr(data.data(), 0, data.size()) != nullptr) return 0;
    QRinput* input = QRinput_new2(0, QR_ECLEVEL_L);
    Split_splitStringToQRinput(data.c_str(), input, QR_MODE_KANJI, 1);
    const int version = finish_qrencode(QRcode_encodeMask(input, 0));
    QRinput_free(input);
    return version;
}

int qrencode_auto(const std::string& data)
{
    return finish_qrencode(QRcode_encodeData(
        static_cast<int>(data.size()), reinterpret_cast<const unsigned char*>(data.data()), 0, QR_ECLEVEL_L));
}

int qrcodegen_with_mask(const std::string& data, int mask)
{
    const std::vector<std::uint8_t> bytes(data.begin(), data.end());
    const auto code = qrcodegen::QrCode::encodeSegments({qrcodegen::QrSegment::makeBytes(bytes)},
                                                        qrcodegen::QrCode::Ecc::LOW, 1, 40, mask, false);
    benchmark::DoNotOptimize(code);
    return code.getVersion();
}

int qrcodegen_mask0(const std::string& data)
{
    return qrcodegen_with_mask(data, 0);
}
int qrcodegen_auto(const std::string& data)
{
    return qrcodegen_with_mask(data, -1);
}

struct Library
{
    const char* name;
    Encode encode;
};

const Library libraries[] = {
    {"ours", ours},
    {"qrencode_mask0", qrencode_mask0},
    {"qrencode_split_mask0", qrencode_split_mask0},
    {"qrencode_auto", qrencode_auto},
    {"qrcodegen_mask0", qrcodegen_mask0},
    {"qrcodegen_auto", qrcodegen_auto},
};

// The picture file of our symbol, made from the module grid.
int ours_picture(const vorsa::qr::QrSymbol& symbol)
{
    const auto picture = vorsa::qr::symbol_picture(symbol, 0x000000, 0xFFFFFF);
    benchmark::DoNotOptimize(picture.data());
    return static_cast<int>(picture.size());
}

int run_loop(const char* library, const char* input_name, long count)
{
    const Input* input = nullptr;
    for (const Input& i : inputs()) {
        if (std::strcmp(i.name, input_name) == 0) input = &i;
    }
    if (input == nullptr) {
        std::fprintf(stderr, "qr_bench: no input %s\n", input_name);
        return 2;
    }
    long checksum = 0;
    if (std::strcmp(library, "ours_picture") == 0) {
        const auto symbol = vorsa::qr::encode_bytes(input->data, vorsa::qr::ErrorLevel::low, 0, 0);
        if (!symbol) return 1;
        for (long i = 0; i < count; ++i)
            checksum += ours_picture(*symbol);
        std::printf("%ld\n", checksum);
        return 0;
    }
    for (const Library& l : libraries) {
        if (std::strcmp(l.name, library) != 0) continue;
        int version = 0;
        for (long i = 0; i < count; ++i)
            checksum += version = l.encode(input->data);
        std::printf("version %d checksum %ld\n", version, checksum);
        return version == 0 ? 1 : 0;
    }
    std::fprintf(stderr, "qr_bench: no library %s\n", library);
    return 2;
}

// Guards the figures against timing a wrong encoder: per input, our symbol (mask 0) must equal module
// for module the one qrcodegen builds from our data codewords at our version, which checks the error
// correction, interleaving, placement, mask and format and version information independently.
bool check_symbols()
{
    bool all_equal = true;
    for (const Input& input : inputs()) {
        const auto data = vorsa::qr::make_data_codewords(input.data, vorsa::qr::ErrorLevel::low);
        const auto symbol = vorsa::qr::encode_bytes(input.data, vorsa::qr::ErrorLevel::low, 0, 0);
        if (!data || !symbol || data->version != symbol->version()) {
            std::fprintf(stderr, "qr_bench: %s: no symbol or differing versions\n", input.name);
            all_equal = false;
            continue;
        }
        const qrcodegen::QrCode reference(data->version, qrcodegen::QrCode::Ecc::LOW, data->codewords, 0);
        int differing = 0;
        for (int y = 0; y < symbol->size(); ++y) {
            for (int x = 0; x < symbol->size(); ++x)
                differing += symbol->module(x, y) != reference.getModule(x, y);
        }
        std::printf("%-12s version %2d  %5zu data codewords  %d modules differ\n", input.name,
                    symbol->version(), data->codewords.size(), differing);
        all_equal = all_equal && differing == 0 && reference.getSize() == symbol->size();
    }
    return all_equal;
}

void register_benchmarks()
{
    for (const Input& input : inputs()) {
        for (const Library& library : libraries) {
            if (library.encode(input.data) == 0) continue; // this library cannot take this input
            benchmark::RegisterBenchmark((std::string("encode/") + library.name + "/" + input.name).c_str(),
                                         [encode = library.encode, &input](benchmark::State& state) {
                                             int version = 0;
                                             for (auto _ : state)
                                                 version = encode(input.data);
                                             state.counters["version"] = version;
                                             state.SetBytesProcessed(static_cast<std::int64_t>(
                                                 state.iterations() * input.data.size()));
                                         });
        }
        benchmark::RegisterBenchmark(
            (std::string("picture/ours/") + input.name).c_str(), [&input](benchmark::State& state) {
                const auto symbol = vorsa::qr::encode_bytes(input.data, vorsa::qr::ErrorLevel::low, 0, 0);
                for (auto _ : state)
                    ours_picture(*symbol);
                state.counters["version"] = symbol->version();
            });
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!load_inputs()) return 2;
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        for (const Library& l : libraries)
            std::printf("%s ", l.name);
        std::printf("ours_picture\n");
        for (const Input& i : inputs())
            std::printf("%s ", i.name);
        std::printf("\n");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--check") == 0) return check_symbols() ? 0 : 1;
    if (argc == 5 && std::strcmp(argv[1], "--loop") == 0)
        return run_loop(argv[2], argv[3], std::atol(argv[4]));
    register_benchmarks();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
