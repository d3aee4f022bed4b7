// The floor for Velmora's start-up and memory: the least Win32 program that shows a window with
// one read-only edit and one button. Nothing else: no resources, no fonts, no registry.
#include <windows.h>

namespace {

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"FloorWindow";
    if (RegisterClassW(&windowClass) == 0) {
        return 1;
    }
    const HWND window = CreateWindowExW(0, L"FloorWindow", L"Floor", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                        CW_USEDEFAULT, CW_USEDEFAULT, 300, 110, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB",
                    WS_CHILD | WS_VISIBLE | ES_CENTER | ES_READONLY, 16, 16, 249, 19, window, nullptr, instance,
                    nullptr);
    CreateWindowExW(0, L"Button", L"Exit", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 56, 48, 153, 17, window, nullptr,
                    instance, nullptr);
    ShowWindow(window, showCommand);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
