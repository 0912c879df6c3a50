// Stands in for the Windows program in the installer's test until that program is built: started from
// the Start-menu entry, it does in its working folder what the program does there first, it writes
// dy.cfg (hidden, in GBK with CR LF). An existing dy.cfg is left as it is.

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const HANDLE file =
        CreateFileW(L"dy.cfg", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS ? 0 : 1;
    // [print] yyy=张三
    const char content[] = "[print]\r\nyyy=\xd5\xc5\xc8\xfd\r\n";
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, content, sizeof content - 1, &written, nullptr);
    CloseHandle(file);
    return wrote && written == sizeof content - 1 ? 0 : 1;
}
