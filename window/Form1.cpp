#include "Form1.h"

#include "Module1.h"
#include "SystemFunction.h"
#include "resource.h"

#include <cmath>

namespace Velmora {
namespace {

const wchar_t kClassName[] = L"VelmoraForm1";
const wchar_t kCaption[] = L"Velmora";
const wchar_t kExitCaption[] = L"Exit";
const wchar_t kDecodeError[] = L"Decode Error :(";

// Not IDOK (1) or IDCANCEL (2): Enter and Escape must never reach the button.
constexpr int kText1Id = 101;
constexpr int kCommand1Id = 102;

// Fixed border, caption and close box; no resizing, no minimise or maximise.
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = 0;

// Layout in twips (1/1440 inch), turned into pixels at the window's DPI.
constexpr int kTwipsPerInch = 1440;
struct TwipRect {
    int left, top, width, height;
};
constexpr SIZE kClientTwips = {4245, 1050};
constexpr TwipRect kText1Twips = {240, 240, 3735, 285};
constexpr TwipRect kCommand1Twips = {840, 720, 2295, 255};

// "Tahoma" 8.25 pt bold, in hundredths of a point.
constexpr int kFontCentipoints = 825;
constexpr int kCentipointsPerInch = 7200;

constexpr COLORREF kBlack = RGB(0, 0, 0);

int ToPixels(int twips, UINT dpi) { return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch); }

template <typename Function>
Function User32Function(const char* name)
{
    return SystemFunction<Function>(L"user32.dll", name);
}

// The screen's device context, released when done.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc()
    {
        if (dc_ != nullptr) {
            ReleaseDC(nullptr, dc_);
        }
    }
    HDC Get() const { return dc_; }

private:
    HDC dc_;
};

UINT DpiOfWindow(HWND window)
{
    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFunction>("GetDpiForWindow"); // Windows 10 1607
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window)) {
            return dpi;
        }
    }
    // Before per-monitor DPI every window has the system DPI.
    const ScreenDc screen;
    const int dpi = screen.Get() != nullptr ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

BOOL AdjustWindowRectForDpi(RECT& rect, DWORD style, DWORD exStyle, UINT dpi)
{
    using AdjustFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustFunction>("AdjustWindowRectExForDpi"); // Windows 10 1607
    if (adjustForDpi != nullptr) {
        return adjustForDpi(&rect, style, FALSE, exStyle, dpi);
    }
    return AdjustWindowRectEx(&rect, style, FALSE, exStyle);
}

// Windows 10 1607 scales the caption per monitor only when asked; later versions do it themselves.
void EnableCaptionScaling(HWND window)
{
    using EnableFunction = BOOL(WINAPI*)(HWND);
    static const auto enable = User32Function<EnableFunction>("EnableNonClientDpiScaling");
    if (enable != nullptr) {
        enable(window);
    }
}

// Relative luminance (0 = black, 1 = white) of a colour, as the WCAG contrast rules define it.
double Luminance(COLORREF colour)
{
    const auto linear = [](BYTE channel) {
        const double c = channel / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(GetRValue(colour)) + 0.7152 * linear(GetGValue(colour)) +
           0.0722 * linear(GetBValue(colour));
}

// Black on the menu colour, as designed; but where the menu colour is too dark for black to be
// read (a high-contrast black theme, say), the theme's own menu text colour.
COLORREF Text1Colour()
{
    constexpr double kMinimumContrast = 4.5; // WCAG AA for normal text
    const double contrastWithBlack = (Luminance(GetSysColor(COLOR_MENU)) + 0.05) / 0.05;
    return contrastWithBlack >= kMinimumContrast ? kBlack : GetSysColor(COLOR_MENUTEXT);
}

void MoveControl(HWND control, const TwipRect& twips, UINT dpi)
{
    MoveWindow(control, ToPixels(twips.left, dpi), ToPixels(twips.top, dpi), ToPixels(twips.width, dpi),
               ToPixels(twips.height, dpi), TRUE);
}

} // namespace

bool Form1::Create()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &Form1::WindowProcedure;
    windowClass.hInstance = instance_;
    // The one 32 x 32 image; Windows scales it for the small icon.
    windowClass.hIcon = static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VELMORA), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                        LR_SHARED));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        return false;
    }

    // Hidden at the default place, so that the shell's choice of monitor is kept; sized and
    // centred once its DPI is known.
    window_ = CreateWindowExW(kFormExStyle, kClassName, kCaption, kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance_, this);
    if (window_ == nullptr) {
        return false;
    }
    const UINT dpi = DpiOfWindow(window_);
    ApplyDpi(dpi);
    Form1_Load();
    CentreOnMonitor(dpi);
    return true;
}

void Form1::Show(int showCommand) const
{
    // A fixed window is never shown maximised, whatever the shortcut asks.
    if (showCommand == SW_SHOWMAXIMIZED || showCommand == SW_MAXIMIZE) {
        showCommand = SW_SHOWNORMAL;
    }
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
}

bool Form1::IsEnterOrEscape(const MSG& message)
{
    const bool key = message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR;
    return key && (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

LRESULT CALLBACK Form1::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Bind the window to its object at the first message that carries the create parameters.
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* form = static_cast<Form1*>(create->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        EnableCaptionScaling(window);
    }
    auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return form->HandleMessage(message, wParam, lParam);
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate() ? 0 : -1;
    case WM_COMMAND:
        if (LOWORD(wParam) == kCommand1Id && HIWORD(wParam) == BN_CLICKED) {
            Command1_Click();
        }
        return 0;
    case WM_CTLCOLORSTATIC: // a read-only edit asks with this one
    case WM_CTLCOLOREDIT:
        if (reinterpret_cast<HWND>(lParam) == text1_) {
            return OnControlColor(reinterpret_cast<HDC>(wParam));
        }
        break;
    case WM_ACTIVATE:
        OnActivate(wParam);
        return 0;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
        InvalidateRect(text1_, nullptr, TRUE);
        break;
    case WM_DPICHANGED:
        OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        // Closing the only window ends the program.
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

bool Form1::OnCreate()
{
    // Created first, so the text field is first in the tab order and takes the focus.
    text1_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"",
                             WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_CENTER | ES_READONLY | ES_AUTOHSCROLL, 0, 0, 0,
                             0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kText1Id)), instance_, nullptr);
    command1_ = CreateWindowExW(0, L"Button", kExitCaption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                                0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCommand1Id)), instance_,
                                nullptr);
    if (text1_ == nullptr || command1_ == nullptr) {
        return false;
    }
    SendMessageW(text1_, EM_SETLIMITTEXT, 0, 0); // no length limit
    lastFocus_ = text1_;
    return true;
}

void Form1::Form1_Load()
{
    try {
        SetWindowTextW(text1_, Module1::ReadProductKey().c_str());
        if (GetWindowTextLengthW(text1_) == 0) {
            SetWindowTextW(text1_, kDecodeError);
        }
    } catch (...) {
        // Whatever went wrong in the lookup, the user sees the one error text and nothing else.
        SetWindowTextW(text1_, kDecodeError);
    }
}

void Form1::Command1_Click()
{
    // Ends the process at once; nothing is left to save or close.
    ExitProcess(0);
}

LRESULT Form1::OnControlColor(HDC dc)
{
    SetTextColor(dc, Text1Colour());
    SetBkColor(dc, GetSysColor(COLOR_MENU));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_MENU));
}

void Form1::OnActivate(WPARAM wParam)
{
    if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus == text1_ || focus == command1_) {
            lastFocus_ = focus;
        }
    } else {
        SetFocus(lastFocus_ != nullptr ? lastFocus_ : text1_);
    }
}

void Form1::OnDpiChanged(UINT dpi, const RECT& suggested)
{
    ApplyDpi(dpi);
    // Keep Windows' suggested place, which keeps the window under the mouse while it is dragged.
    const SIZE size = WindowSizeFor(dpi);
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::ApplyDpi(UINT dpi)
{
    const HFONT font = CreateFontW(-MulDiv(kFontCentipoints, static_cast<int>(dpi), kCentipointsPerInch), 0, 0, 0,
                                   FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
    if (font != nullptr) {
        SendMessageW(text1_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        SendMessageW(command1_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        font_.Reset(font); // the controls hold the new font now, so the old one can go
    }
    MoveControl(text1_, kText1Twips, dpi);
    MoveControl(command1_, kCommand1Twips, dpi);
}

SIZE Form1::WindowSizeFor(UINT dpi) const
{
    RECT rect = {0, 0, ToPixels(kClientTwips.cx, dpi), ToPixels(kClientTwips.cy, dpi)};
    AdjustWindowRectForDpi(rect, kFormStyle, kFormExStyle, dpi);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

void Form1::CentreOnMonitor(UINT dpi)
{
    const SIZE size = WindowSizeFor(dpi);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    int left = 0;
    int top = 0;
    if (GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        const RECT& area = monitor.rcWork; // clear of the taskbar
        left = area.left + (area.right - area.left - size.cx) / 2;
        top = area.top + (area.bottom - area.top - size.cy) / 2;
    } else {
        flags |= SWP_NOMOVE; // keep the place Windows chose
    }
    SetWindowPos(window_, nullptr, left, top, size.cx, size.cy, flags);
}

} // namespace Velmora
