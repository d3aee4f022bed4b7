// A tiny GUI program built with the same flags as Velmora.exe, for the checker's own test.
// With PE_FIXTURE_IMPORTS_ADVAPI32 it calls the registry directly, so advapi32 lands in its
// import table, which the checker must reject.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
#ifdef PE_FIXTURE_IMPORTS_ADVAPI32
    RegCloseKey(HKEY_CURRENT_USER);
#endif
    return MessageBoxA(nullptr, "fixture", "fixture", MB_OK) == IDOK ? 0 : 1;
}
