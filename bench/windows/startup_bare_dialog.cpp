// The baseline of the Windows start-up benchmark: the barest Win32 program that shows the main window's
// dialog template 1000 (with the program's icon and manifest, linked from the same resource object) as a
// modal dialog and nothing else. No settings file, no printer list, no title picture, no handlers: what
// any program showing this window pays to Windows. The close box ends it.
//
// For finding where the program's start goes, each option adds one of the program's costs before the
// dialog is made (experiments, rows of their own in the benchmark; the baseline takes none). Their DLLs
// are loaded only by them, so the baseline imports what it imported without them:
//   --imports        loads the DLLs the program imports beyond this one's (COM, OLE automation, the
//                    URL loader, WinHTTP)
//   --pictures=DIR   decodes DIR/title.jpg and DIR/logos/builtin_1.gif to _5.gif through WIC, as the
//                    program decodes its title picture and built-in logos
//   --printers       lists the spooler's printers (EnumPrintersW, local and connections, level 1)
//   --printer-thread lists them on a thread of its own and waits for it, as the program lists them on a
//                    thread that bounds the spooler's wait

// clang-format off
#include <windows.h>
#include <commctrl.h> // needs <windows.h> first
#include <winspool.h>
// clang-format on
#include <string>
#include <vector>
#include <wincodec.h>
#include <wtypes.h>

namespace {

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

void load_imports()
{
    for (const wchar_t* dll : {L"ole32.dll", L"oleaut32.dll", L"urlmon.dll", L"winhttp.dll"})
        LoadLibraryW(dll);
}

void decode_with_wic(IWICImagingFactory* factory, const std::wstring& file)
{
    IWICBitmapDecoder* decoder = nullptr;
    if (FAILED(factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder)))
        return;
    IWICBitmapFrameDecode* frame = nullptr;
    IWICFormatConverter* converter = nullptr;
    if (SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(factory->CreateFormatConverter(&converter)) &&
        SUCCEEDED(converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                                        0.0, WICBitmapPaletteTypeCustom))) {
        UINT width = 0, height = 0;
        converter->GetSize(&width, &height);
        std::vector<BYTE> pixels(std::size_t{width} * height * 4);
        converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(pixels.size()), pixels.data());
    }
    if (converter) converter->Release();
    if (frame) frame->Release();
    decoder->Release();
}

template <typename Function> Function function_of(const wchar_t* dll, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(dll), name)));
}

void decode_pictures(const std::wstring& folder)
{
    const auto initialize = function_of<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
    const auto create = function_of<decltype(&CoCreateInstance)>(L"ole32.dll", "CoCreateInstance");
    if (!initialize || !create) return;
    initialize(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    if (FAILED(create(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                      reinterpret_cast<void**>(&factory))))
        return;
    decode_with_wic(factory, folder + L"\\title.jpg");
    for (int i = 1; i <= 5; ++i)
        decode_with_wic(factory, folder + L"\\logos\\builtin_" + std::to_wstring(i) + L".gif");
    factory->Release();
}

void list_printers()
{
    const auto enumerate = function_of<decltype(&EnumPrintersW)>(L"winspool.drv", "EnumPrintersW");
    if (!enumerate) return;
    DWORD needed = 0, count = 0;
    enumerate(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    enumerate(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 1, buffer.data(), needed, &needed,
              &count);
}

void list_printers_on_a_thread()
{
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](void*) -> DWORD {
            list_printers();
            return 0;
        },
        nullptr, 0, nullptr);
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    // The options, separated by blanks (the folder of --pictures holds none).
    const std::wstring line = GetCommandLineW();
    for (std::size_t start = line.find(L" --"); start != std::wstring::npos;
         start = line.find(L" --", start + 1)) {
        const std::size_t end = line.find(L' ', start + 1);
        const std::wstring option = line.substr(start + 1, end == std::wstring::npos ? end : end - start - 1);
        if (option == L"--imports") load_imports();
        if (option.rfind(L"--pictures=", 0) == 0) decode_pictures(option.substr(11));
        if (option == L"--printers") list_printers();
        if (option == L"--printer-thread") list_printers_on_a_thread();
    }
    // The template holds an up-down control, whose class the common controls register.
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof classes;
    classes.dwICC = ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&classes);
    const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(1000), nullptr, dialog_procedure, 0);
    return result == -1 ? 1 : 0;
}
