// VelmoraProbe: starts Velmora.exe and checks its window from the outside, the way a user meets
// it: what it shows, how it is laid out and coloured, how it takes keys, and how it ends.
//
//   VelmoraProbe --exe PATH --expect TEXT [--dpi N] [--end click|space|closebox] [--hold FILE]
//   VelmoraProbe --exe PATH --print [--hold FILE]
//
// Every check prints one line, "ok   ..." or "FAIL ...". The exit code is 0 only if every check
// passed. --hold prints the window's screen rectangle ("hold: x y w h") once the window has
// settled and waits until FILE exists, so that a screenshot can be taken meanwhile. --print only
// reports the text of Text1 and closes the window through its system menu.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- ownership of the handles we take -----------------------------------------------------------

// Owns one handle and gives it back with Close (CloseHandle, DeleteObject, ...) when done.
template <typename T, auto Close>
class Owned {
public:
    explicit Owned(T value = nullptr) : value_(value) {}
    ~Owned() {
        if (value_ != nullptr) Close(value_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    T get() const { return value_; }

private:
    T value_;
};

using UniqueHandle = Owned<HANDLE, &CloseHandle>;  // CreateProcess never hands out INVALID_HANDLE_VALUE
using MemoryDc = Owned<HDC, &DeleteDC>;
using LibraryModule = Owned<HMODULE, &FreeLibrary>;
using IconHandle = Owned<HICON, &DestroyIcon>;
template <typename T>
using GdiObject = Owned<T, &DeleteObject>;

// The program under test; if the probe gives up early, the program must not outlive it.
class ChildProcess {
public:
    explicit ChildProcess(const PROCESS_INFORMATION& pi) : process_(pi.hProcess), thread_(pi.hThread), id_(pi.dwProcessId) {}
    ~ChildProcess() {
        if (Running()) TerminateProcess(process_.get(), 99);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool Running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
    HANDLE handle() const { return process_.get(); }
    DWORD id() const { return id_; }

private:
    UniqueHandle process_;
    UniqueHandle thread_;
    DWORD id_;
};

class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_ != nullptr) ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection() { SelectObject(dc_, previous_); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

class ClipboardLock {
public:
    ClipboardLock() {
        // Another process (Wine's clipboard manager among them) may hold it for a moment.
        for (int i = 0; i < 100 && !open_; ++i) {
            open_ = OpenClipboard(nullptr) != FALSE;
            if (!open_) Sleep(20);
        }
    }
    ~ClipboardLock() {
        if (open_) CloseClipboard();
    }
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;
    bool open() const { return open_; }

private:
    bool open_ = false;
};

class GlobalMemory {
public:
    explicit GlobalMemory(SIZE_T bytes) : memory_(GlobalAlloc(GMEM_MOVEABLE, bytes)) {}
    ~GlobalMemory() {
        if (memory_ != nullptr) GlobalFree(memory_);
    }
    GlobalMemory(const GlobalMemory&) = delete;
    GlobalMemory& operator=(const GlobalMemory&) = delete;
    HGLOBAL get() const { return memory_; }
    HGLOBAL release() { return std::exchange(memory_, nullptr); }

private:
    HGLOBAL memory_;
};

class GlobalLockGuard {
public:
    explicit GlobalLockGuard(HGLOBAL memory) : memory_(memory), data_(memory ? GlobalLock(memory) : nullptr) {}
    ~GlobalLockGuard() {
        if (data_ != nullptr) GlobalUnlock(memory_);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    void* data() const { return data_; }

private:
    HGLOBAL memory_;
    void* data_;
};

// ---- reporting ------------------------------------------------------------------------------------

int g_failures = 0;

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    return out;
}

std::wstring Widen(const char* text) {
    std::wstring out;
    for (; *text != '\0'; ++text) out += static_cast<wchar_t>(static_cast<unsigned char>(*text));
    return out;
}

void Line(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool Check(bool ok, const std::string& what, const std::string& detail = {}) {
    Line((ok ? "ok   " : "FAIL ") + what + (ok || detail.empty() ? "" : ": " + detail));
    if (!ok) ++g_failures;
    return ok;
}

[[noreturn]] void Fatal(const std::string& what) {
    Line("FAIL " + what);
    std::exit(2);
}

std::string Str(long value) { return std::to_string(value); }

std::string Rect(const RECT& r) {
    return Str(r.left) + "," + Str(r.top) + " " + Str(r.right - r.left) + "x" + Str(r.bottom - r.top);
}

std::string Hex(unsigned long value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08lx", value);
    return buffer;
}

std::string Colour(COLORREF c) {
    return "(" + Str(GetRValue(c)) + " " + Str(GetGValue(c)) + " " + Str(GetBValue(c)) + ")";
}

// Waits, polling, for a condition that should come true soon; the timeout is generous on purpose.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() > end) return false;
        Sleep(25);
    }
}

// ---- layout arithmetic ------------------------------------------------------------------------------

// Twips at the window's DPI. Rounding (MulDiv) and truncation are both fair ways to get there.
bool ScaledOk(long pixels, int twips, int dpi) {
    return pixels == MulDiv(twips, dpi, 1440) || pixels == static_cast<long>(twips) * dpi / 1440;
}

std::string Scaled(int twips, int dpi) {
    const long rounded = MulDiv(twips, dpi, 1440);
    const long truncated = static_cast<long>(twips) * dpi / 1440;
    return rounded == truncated ? Str(rounded) : Str(truncated) + " or " + Str(rounded);
}

// A control's rectangle in its parent's client coordinates.
RECT ChildRect(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void CheckChildRect(HWND parent, HWND child, const char* name, const int twips[4], int dpi) {
    const RECT r = ChildRect(parent, child);
    const bool ok = ScaledOk(r.left, twips[0], dpi) && ScaledOk(r.top, twips[1], dpi) &&
                    ScaledOk(r.right - r.left, twips[2], dpi) && ScaledOk(r.bottom - r.top, twips[3], dpi);
    Check(ok, std::string(name) + " at left " + Scaled(twips[0], dpi) + ", top " + Scaled(twips[1], dpi) + ", " +
                  Scaled(twips[2], dpi) + " x " + Scaled(twips[3], dpi),
          "got " + Rect(r));
}

// ---- reading the program's window -----------------------------------------------------------------

struct FindContext {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindMainWindow(HWND hwnd, LPARAM param) {
    auto* context = reinterpret_cast<FindContext*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t className[64] = {};
    GetClassNameW(hwnd, className, 64);
    if (pid == context->processId && IsWindowVisible(hwnd) && std::wcscmp(className, L"VelmoraForm1") == 0) {
        context->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}

// Style bits are 32 bits wide in both builds.
DWORD StyleOf(HWND hwnd, int index) { return static_cast<DWORD>(GetWindowLongPtrW(hwnd, index)); }

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

// WM_GETTEXT is marshalled across processes; GetWindowText would not ask another process's control.
std::wstring TextOf(HWND hwnd) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, &copied)) {
        return L"<no answer to WM_GETTEXT>";
    }
    return std::wstring(buffer, copied);
}

HWND FocusOf(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(threadId, &info) ? info.hwndFocus : nullptr;
}

template <typename Fn>
Fn User32(const char* name) {
    FARPROC proc = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

int DpiOf(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    if (auto getDpi = User32<GetDpiForWindowFn>("GetDpiForWindow")) return static_cast<int>(getDpi(hwnd));
    WindowDc screen(nullptr);
    return GetDeviceCaps(screen.get(), LOGPIXELSX);
}

// Our coordinates must be the physical ones the program lays itself out in, not scaled for us.
void BecomeDpiAware() {
    using SetContextFn = BOOL(WINAPI*)(HANDLE);
    if (auto setContext = User32<SetContextFn>("SetProcessDpiAwarenessContext")) {
        if (setContext(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;  // per-monitor v2
    }
    SetProcessDPIAware();
}

// ---- pixels ---------------------------------------------------------------------------------------

struct Image {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;
    COLORREF at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};

// A top-down 32-bit DIB section whose pixels are at bits.
HBITMAP TopDownBitmap(int width, int height, void*& bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

// Copies pixels from a DC into a top-down 32-bit image.
Image Grab(HDC source, int x, int y, int width, int height) {
    Image image;
    if (width <= 0 || height <= 0) return image;
    void* bits = nullptr;
    GdiObject<HBITMAP> bitmap(TopDownBitmap(width, height, bits));
    MemoryDc memory(CreateCompatibleDC(nullptr));
    if (bitmap.get() == nullptr || memory.get() == nullptr) return image;
    {
        Selection select(memory.get(), bitmap.get());
        BitBlt(memory.get(), 0, 0, width, height, source, x, y, SRCCOPY);
        GdiFlush();
    }
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    const auto* bgra = static_cast<const unsigned char*>(bits);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = RGB(bgra[4 * i + 2], bgra[4 * i + 1], bgra[4 * i]);
    }
    return image;
}

Image GrabScreen(const RECT& r) {
    WindowDc screen(nullptr);
    return Grab(screen.get(), r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// Bounding box of every pixel that is not the background colour; empty if there is none.
RECT InkBox(const Image& image, COLORREF background) {
    RECT box{image.width, image.height, 0, 0};
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (image.at(x, y) != background) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
        }
    }
    if (box.right <= box.left) box = RECT{};
    return box;
}

// Box and number of the dark pixels: black text on a light face, whatever shading the face has.
struct DarkInk {
    RECT box{};
    int count = 0;
};

DarkInk DarkPixels(const Image& image, const RECT& area) {
    DarkInk ink;
    ink.box = RECT{area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            const COLORREF c = image.at(x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 96) {
                ++ink.count;
                ink.box.left = std::min<LONG>(ink.box.left, x);
                ink.box.top = std::min<LONG>(ink.box.top, y);
                ink.box.right = std::max<LONG>(ink.box.right, x + 1);
                ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
            }
        }
    }
    if (ink.count == 0) ink.box = RECT{};
    return ink;
}

// How the expected text looks when we draw it ourselves in the window's font: its advance
// width and the box of its ink relative to where the text starts.
struct Rendering {
    int advance = 0;
    RECT ink{};
    Image image;
};

Rendering Render(const std::wstring& text, int pixelHeight, COLORREF background, COLORREF foreground) {
    Rendering result;
    GdiObject<HFONT> font(CreateFontW(-pixelHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"));
    MemoryDc memory(CreateCompatibleDC(nullptr));
    const int width = 16 * pixelHeight + 40 * static_cast<int>(text.size());
    const int height = 4 * pixelHeight;
    void* bits = nullptr;
    GdiObject<HBITMAP> bitmap(TopDownBitmap(width, height, bits));
    if (font.get() == nullptr || bitmap.get() == nullptr || memory.get() == nullptr) return result;
    const int origin = pixelHeight;
    {
        Selection selectBitmap(memory.get(), bitmap.get());
        Selection selectFont(memory.get(), font.get());
        GdiObject<HBRUSH> brush(CreateSolidBrush(background));
        RECT all{0, 0, width, height};
        FillRect(memory.get(), &all, brush.get());
        SetBkMode(memory.get(), TRANSPARENT);
        SetTextColor(memory.get(), foreground);
        // Placed by the font's advance widths, as the edit control lays out its text; plain
        // TextOut under Wine can place hinted glyphs a pixel tighter.
        const int count = static_cast<int>(text.size());
        std::vector<int> ends(text.size() + 1);
        std::vector<int> advances(text.size() + 1);
        int fit = 0;
        SIZE extent{};
        GetTextExtentExPointW(memory.get(), text.c_str(), count, 0, &fit, ends.data(), &extent);
        for (size_t i = 0; i < text.size(); ++i) advances[i] = ends[i] - (i == 0 ? 0 : ends[i - 1]);
        ExtTextOutW(memory.get(), origin, origin, 0, nullptr, text.c_str(), static_cast<UINT>(count), advances.data());
        result.advance = extent.cx;
        result.image = Grab(memory.get(), 0, 0, width, height);
        result.ink = InkBox(result.image, background);
    }
    OffsetRect(&result.ink, -origin, -origin);
    return result;
}

// ---- input ----------------------------------------------------------------------------------------

bool IsExtendedKey(WORD vk) {
    switch (vk) {
    case VK_HOME: case VK_END: case VK_DELETE: case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN:
    case VK_INSERT: case VK_PRIOR: case VK_NEXT:
        return true;
    default:
        return false;
    }
}

INPUT KeyInput(WORD vk, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0u) | (IsExtendedKey(vk) ? KEYEVENTF_EXTENDEDKEY : 0u);
    return input;
}

void Send(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void Press(WORD vk) { Send({KeyInput(vk, false), KeyInput(vk, true)}); }

void Chord(WORD modifier, WORD vk) {
    Send({KeyInput(modifier, false), KeyInput(vk, false), KeyInput(vk, true), KeyInput(modifier, true)});
}

void Type(const std::wstring& text) {
    std::vector<INPUT> inputs;
    for (wchar_t c : text) {
        for (bool up : {false, true}) {
            INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wScan = static_cast<WORD>(c);
            input.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0u);
            inputs.push_back(input);
        }
    }
    Send(inputs);
}

// Moves the mouse there (absolute, over the whole virtual screen) and clicks the left button.
bool Click(POINT at) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT move{};
    move.type = INPUT_MOUSE;
    move.mi.dx = MulDiv(at.x - left, 65536, width) + 1;
    move.mi.dy = MulDiv(at.y - top, 65536, height) + 1;
    move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    Send({move});
    const bool there = WaitUntil([&] {
        POINT now{};
        return GetCursorPos(&now) && now.x == at.x && now.y == at.y;
    }, 5000);
    INPUT down = move;
    down.mi.dwFlags |= MOUSEEVENTF_LEFTDOWN;
    INPUT up = move;
    up.mi.dwFlags |= MOUSEEVENTF_LEFTUP;
    // Two inputs, as a hand gives them: a window that tracks the press (the close box does)
    // sees the button go down before it comes up.
    Send({down});
    Send({up});
    return there;
}

bool SetClipboardText(const std::wstring& text) {
    ClipboardLock clipboard;
    if (!clipboard.open() || !EmptyClipboard()) return false;
    GlobalMemory memory((text.size() + 1) * sizeof(wchar_t));
    {
        GlobalLockGuard lock(memory.get());
        if (lock.data() == nullptr) return false;
        std::wmemcpy(static_cast<wchar_t*>(lock.data()), text.c_str(), text.size() + 1);
    }
    if (SetClipboardData(CF_UNICODETEXT, memory.get()) == nullptr) return false;
    memory.release();  // the clipboard owns it now
    return true;
}

std::wstring ClipboardText() {
    ClipboardLock clipboard;
    if (!clipboard.open()) return L"<clipboard busy>";
    GlobalLockGuard lock(GetClipboardData(CF_UNICODETEXT));
    return lock.data() ? std::wstring(static_cast<const wchar_t*>(lock.data())) : L"";
}

// ---- the run --------------------------------------------------------------------------------------

struct Options {
    std::wstring exe;
    std::wstring expect;
    bool hasExpect = false;
    int dpi = 96;
    std::string end = "click";
    std::wstring hold;
    bool print = false;
    COLORREF textColour = RGB(0, 0, 0);
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--print") {
            options.print = true;
        } else if (arg == "--exe" && hasValue) {
            options.exe = Widen(argv[++i]);
        } else if (arg == "--expect" && hasValue) {
            options.expect = Widen(argv[++i]);
            options.hasExpect = true;
        } else if (arg == "--dpi" && hasValue) {
            options.dpi = std::atoi(argv[++i]);
        } else if (arg == "--end" && hasValue) {
            options.end = argv[++i];
        } else if (arg == "--text-colour" && hasValue) {
            int r = 0, g = 0, b = 0;
            if (std::sscanf(argv[++i], "%d,%d,%d", &r, &g, &b) != 3) Fatal("usage: --text-colour R,G,B");
            options.textColour = RGB(r, g, b);
        } else if (arg == "--hold" && hasValue) {
            options.hold = Widen(argv[++i]);
        } else {
            Fatal("usage: unknown or incomplete argument " + arg);
        }
    }
    if (options.exe.empty() || (!options.print && !options.hasExpect)) Fatal("usage: --exe PATH and --expect TEXT (or --print)");
    if (options.end != "click" && options.end != "space" && options.end != "closebox") Fatal("usage: --end click|space|closebox");
    return options;
}

PROCESS_INFORMATION Start(const std::wstring& exe) {
    // Started from its own folder, so anything it wrote relative to "here" would land beside it.
    std::wstring folder = exe.substr(0, exe.find_last_of(L"\\/") + 1);
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &pi)) {
        Fatal("start " + Narrow(exe) + ": error " + Str(static_cast<long>(GetLastError())));
    }
    return pi;
}

bool Alive(const ChildProcess& child, HWND hwnd) { return child.Running() && IsWindow(hwnd) && IsWindowVisible(hwnd); }

// Makes sure our keys go to the program: input goes to the foreground window.
bool Foreground(HWND hwnd) {
    if (GetForegroundWindow() == hwnd) return true;
    SetForegroundWindow(hwnd);
    return WaitUntil([&] { return GetForegroundWindow() == hwnd; }, 10000);
}

// Waits until two grabs in a row are the same, i.e. the window has finished painting. The caret
// blinks, so the focused control's caret rectangle is left out of the comparison.
void Settle(HWND hwnd, DWORD threadId) {
    Image previous;
    WaitUntil([&] {
        Sleep(150);
        RECT r{};
        GetWindowRect(hwnd, &r);
        Image now = GrabScreen(r);
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(threadId, &info) && info.hwndCaret != nullptr) {
            RECT caret = info.rcCaret;
            MapWindowPoints(info.hwndCaret, HWND_DESKTOP, reinterpret_cast<POINT*>(&caret), 2);
            InflateRect(&caret, 2, 2);
            for (int y = 0; y < now.height; ++y) {
                for (int x = 0; x < now.width; ++x) {
                    POINT p{x + r.left, y + r.top};
                    if (PtInRect(&caret, p)) now.pixels[static_cast<size_t>(y * now.width + x)] = 0;
                }
            }
        }
        const bool same = now.width > 0 && now.width == previous.width && now.height == previous.height && now.pixels == previous.pixels;
        previous = std::move(now);
        return same;
    }, 15000);
}

void Hold(HWND hwnd, const std::wstring& file) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    Line("hold: " + Str(r.left) + " " + Str(r.top) + " " + Str(r.right - r.left) + " " + Str(r.bottom - r.top));
    if (!WaitUntil([&] { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }, 300000)) {
        Check(false, "the hold file appeared", Narrow(file));
    }
}

BOOL CALLBACK FirstIconGroup(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    auto* found = reinterpret_cast<std::wstring*>(param);
    *found = IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name);
    return FALSE;
}

Image DrawIconOn(HICON icon, int size, COLORREF background) {
    Image image;
    WindowDc screen(nullptr);
    MemoryDc memory(CreateCompatibleDC(nullptr));
    GdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen.get(), size, size));
    if (memory.get() == nullptr || bitmap.get() == nullptr) return image;
    Selection select(memory.get(), bitmap.get());
    GdiObject<HBRUSH> brush(CreateSolidBrush(background));
    RECT all{0, 0, size, size};
    FillRect(memory.get(), &all, brush.get());
    DrawIconEx(memory.get(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    return Grab(memory.get(), 0, 0, size, size);
}

int ChannelDistance(COLORREF a, COLORREF b) {
    return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) + std::abs(GetBValue(a) - GetBValue(b));
}

// The caption's small icon is the program's own: the icon resource of the program file, scaled
// to the small icon size, appears somewhere at the left of the caption.
void CheckCaptionIcon(HWND hwnd, const std::wstring& exe) {
    LibraryModule module(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    std::wstring group;
    if (module.get() != nullptr) EnumResourceNamesW(module.get(), RT_GROUP_ICON, FirstIconGroup, reinterpret_cast<LONG_PTR>(&group));
    if (!Check(!group.empty(), "the program file has an icon")) return;

    RECT frame{};
    GetWindowRect(hwnd, &frame);
    POINT clientOrigin{0, 0};
    ClientToScreen(hwnd, &clientOrigin);
    const int small = GetSystemMetrics(SM_CXSMICON);
    RECT band{frame.left, frame.top, std::min<LONG>(frame.right, frame.left + 4 * small), clientOrigin.y};
    const Image caption = GrabScreen(band);

    double best = 1e9;
    const LPCWSTR name = group[0] == L'#' ? MAKEINTRESOURCEW(std::stoi(group.substr(1))) : group.c_str();
    // Loaded at its own size and scaled while drawing: Wine's LoadImage garbles a 24-bit icon
    // that it has to shrink itself.
    IconHandle icon(static_cast<HICON>(LoadImageW(module.get(), name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE)));
    if (icon.get() == nullptr) {
        Check(false, "the program's icon loads");
        return;
    }
    // Drawn on black and on white: pixels that agree are the icon's opaque ones.
    const Image onBlack = DrawIconOn(icon.get(), small, RGB(0, 0, 0));
    const Image onWhite = DrawIconOn(icon.get(), small, RGB(255, 255, 255));
    std::vector<POINT> opaque;
    for (int y = 0; y < small && !onBlack.pixels.empty(); ++y) {
        for (int x = 0; x < small; ++x) {
            if (onBlack.at(x, y) == onWhite.at(x, y)) opaque.push_back(POINT{x, y});
        }
    }
    for (int oy = 0; oy + small <= caption.height && !opaque.empty(); ++oy) {
        for (int ox = 0; ox + small <= caption.width; ++ox) {
            long total = 0;
            for (const POINT& p : opaque) total += ChannelDistance(caption.at(ox + p.x, oy + p.y), onBlack.at(p.x, p.y));
            best = std::min(best, static_cast<double>(total) / static_cast<double>(opaque.size()));
        }
    }
    Check(!opaque.empty() && best <= 40.0, "the caption shows the program's own icon",
          opaque.empty() ? "the icon has no opaque pixel" : "closest match differs by " + Str(static_cast<long>(best)) + " per pixel");
}

void CheckFrame(HWND hwnd, const std::wstring& exe, int dpi) {
    const DWORD style = StyleOf(hwnd, GWL_STYLE);
    const DWORD exStyle = StyleOf(hwnd, GWL_EXSTYLE);
    const std::wstring caption = [&] {
        wchar_t buffer[64] = {};
        GetWindowTextW(hwnd, buffer, 64);
        return std::wstring(buffer);
    }();
    Check(caption == L"Velmora", "caption is \"Velmora\"", "got \"" + Narrow(caption) + "\"");
    Check((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU) != 0, "has a caption and a system menu (close box)",
          "style " + Hex(style));
    Check((style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_POPUP | WS_CHILD)) == 0,
          "fixed border, no minimise or maximise box, not a popup", "style " + Hex(style));
    Check((exStyle & WS_EX_TOOLWINDOW) == 0 && GetWindow(hwnd, GW_OWNER) == nullptr, "unowned and not a tool window (taskbar button)",
          "ex-style " + Hex(exStyle));
    const int windowDpi = DpiOf(hwnd);
    Check(windowDpi == dpi, "window DPI is " + Str(dpi), "got " + Str(windowDpi));
    RECT client{};
    GetClientRect(hwnd, &client);
    Check(ScaledOk(client.right, 4245, dpi) && ScaledOk(client.bottom, 1050, dpi),
          "client area " + Scaled(4245, dpi) + " x " + Scaled(1050, dpi), "got " + Str(client.right) + " x " + Str(client.bottom));

    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{};
    GetWindowRect(hwnd, &frame);
    const long dx = (frame.left - work.left) - (work.right - frame.right);
    const long dy = (frame.top - work.top) - (work.bottom - frame.bottom);
    Check(std::labs(dx) <= 2 && std::labs(dy) <= 2, "centred on the work area " + Rect(work), "window at " + Rect(frame));

    CheckCaptionIcon(hwnd, exe);
}

void CheckControls(HWND hwnd, HWND text1, HWND command1, int dpi) {
    const DWORD textStyle = StyleOf(text1, GWL_STYLE);
    Check(ClassOf(text1) == L"Edit" || ClassOf(text1) == L"EDIT", "Text1 (id 101) is an Edit", "class " + Narrow(ClassOf(text1)));
    Check((textStyle & (WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_CENTER | ES_READONLY)) == (WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_CENTER | ES_READONLY) &&
              (textStyle & ES_MULTILINE) == 0,
          "Text1 is a visible tab stop, centred, read-only, single line", "style " + Hex(textStyle));
    Check((StyleOf(text1, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, "Text1 has a sunken client edge");
    const int textTwips[4] = {240, 240, 3735, 285};
    CheckChildRect(hwnd, text1, "Text1", textTwips, dpi);

    const DWORD buttonStyle = StyleOf(command1, GWL_STYLE);
    Check(ClassOf(command1) == L"Button" || ClassOf(command1) == L"BUTTON", "Command1 (id 102) is a Button", "class " + Narrow(ClassOf(command1)));
    Check((buttonStyle & BS_TYPEMASK) == BS_PUSHBUTTON && (buttonStyle & (WS_VISIBLE | WS_TABSTOP)) == (WS_VISIBLE | WS_TABSTOP),
          "Command1 is a visible tab-stop push button, not the default button", "style " + Hex(buttonStyle));
    Check(TextOf(command1) == L"Exit", "Command1 caption is \"Exit\"", "got \"" + Narrow(TextOf(command1)) + "\"");
    const int buttonTwips[4] = {840, 720, 2295, 255};
    CheckChildRect(hwnd, command1, "Command1", buttonTwips, dpi);

    int children = 0;
    EnumChildWindows(hwnd, CountChild, reinterpret_cast<LPARAM>(&children));
    Check(children == 2, "the window has exactly two controls", "got " + Str(children));
}

// Text1's pixels: menu-coloured background, text in the expected colour (black, unless the menu
// colour is too dark for it) in Tahoma 8.25 pt bold, centred, whole.
void CheckTextPixels(HWND text1, const std::wstring& expected, int dpi, COLORREF textColour) {
    const COLORREF menu = GetSysColor(COLOR_MENU);
    RECT client{};
    GetClientRect(text1, &client);
    MapWindowPoints(text1, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    const Image image = GrabScreen(client);
    if (!Check(image.width > 0, "grabbed Text1 from the screen")) return;

    const RECT ink = InkBox(image, menu);
    const bool hasInk = ink.right > ink.left;
    Check(hasInk, "Text1 shows ink on a " + Colour(menu) + " (menu colour) background",
          "no pixel differs; corner pixel " + Colour(image.at(0, 0)));
    if (!hasInk) return;
    // The field's two ends, where centred text never reaches, show the background alone.
    int stray = 0;
    COLORREF strayColour = menu;
    for (int y = 0; y < image.height; ++y) {
        for (int x : {0, 1, image.width - 2, image.width - 1}) {
            if (image.at(x, y) != menu) {
                ++stray;
                strayColour = image.at(x, y);
            }
        }
    }
    Check(stray == 0, "Text1 background at both ends is the menu colour " + Colour(menu),
          Str(stray) + " pixels differ, e.g. " + Colour(strayColour));
    // The ink pixel farthest from the background is the text's own colour; the rest is smoothing.
    const auto distance = [menu](COLORREF c) {
        return std::labs(static_cast<long>(GetRValue(c)) - GetRValue(menu)) +
               std::labs(static_cast<long>(GetGValue(c)) - GetGValue(menu)) +
               std::labs(static_cast<long>(GetBValue(c)) - GetBValue(menu));
    };
    COLORREF farthest = menu;
    for (int y = ink.top; y < ink.bottom; ++y) {
        for (int x = ink.left; x < ink.right; ++x) {
            if (distance(image.at(x, y)) > distance(farthest)) farthest = image.at(x, y);
        }
    }
    Check(farthest == textColour, "Text1 text is " + Colour(textColour), "strongest ink pixel " + Colour(farthest));

    // Our own rendering of the expected text in the window's font, at either rounding of 8.25 pt.
    const int heights[2] = {MulDiv(825, dpi, 7200), 825 * dpi / 7200};
    bool fontMatches = false;
    Rendering best;
    std::string seen;
    for (int height : heights) {
        const Rendering r = Render(expected, height, menu, textColour);
        const long dw = (ink.right - ink.left) - (r.ink.right - r.ink.left);
        const long dh = (ink.bottom - ink.top) - (r.ink.bottom - r.ink.top);
        seen += " " + Str(r.ink.right - r.ink.left) + "x" + Str(r.ink.bottom - r.ink.top) + " (" + Str(height) + " px)";
        if (!fontMatches && std::labs(dw) <= 2 && std::labs(dh) <= 1) {
            fontMatches = true;
            best = r;
        }
        if (best.advance == 0) best = r;
    }
    Check(fontMatches, "the text's ink has the size of Tahoma 8.25 pt bold, so it is neither another font nor clipped",
          "ink " + Str(ink.right - ink.left) + "x" + Str(ink.bottom - ink.top) + ", expected" + seen);

    DWORD_PTR margins = 0;
    SendMessageTimeoutW(text1, EM_GETMARGINS, 0, 0, SMTO_ABORTIFHUNG, 5000, &margins);
    const long room = image.width - static_cast<long>(LOWORD(margins)) - static_cast<long>(HIWORD(margins));
    Check(best.advance <= room, "the text's width " + Str(best.advance) + " fits Text1's " + Str(room) + " pixels inside its margins");

    // Centred: where the ink would be if the text's advance box sat in the middle of the field.
    const double expectedCentre = (image.width - best.advance) / 2.0 + (best.ink.left + best.ink.right) / 2.0;
    const double actualCentre = (ink.left + ink.right) / 2.0;
    Check(actualCentre - expectedCentre <= 2.0 && expectedCentre - actualCentre <= 2.0, "the text is centred in Text1",
          "ink centre at " + Str(static_cast<long>(actualCentre)) + ", expected about " + Str(static_cast<long>(expectedCentre)));
}

// Command1's caption: its dark ink has the size and weight of "Exit" in Tahoma 8.25 pt bold.
// Looked at while Text1 has the focus, so that no focus rectangle is drawn around the caption.
void CheckButtonPixels(HWND command1, int dpi) {
    RECT client{};
    GetClientRect(command1, &client);
    MapWindowPoints(command1, HWND_DESKTOP, reinterpret_cast<POINT*>(&client), 2);
    const Image image = GrabScreen(client);
    if (image.width < 8 || image.height < 8) {
        Check(false, "grabbed Command1 from the screen");
        return;
    }
    // The frame of the button is dark too; the caption lies well inside it.
    const DarkInk ink = DarkPixels(image, RECT{3, 3, image.width - 3, image.height - 3});
    const int heights[2] = {MulDiv(825, dpi, 7200), 825 * dpi / 7200};
    bool matches = false;
    std::string seen;
    for (int height : heights) {
        const Rendering r = Render(L"Exit", height, GetSysColor(COLOR_BTNFACE), RGB(0, 0, 0));
        const DarkInk expected = DarkPixels(r.image, RECT{0, 0, r.image.width, r.image.height});
        const long dw = (ink.box.right - ink.box.left) - (expected.box.right - expected.box.left);
        const long dh = (ink.box.bottom - ink.box.top) - (expected.box.bottom - expected.box.top);
        const bool massOk = std::abs(ink.count - expected.count) * 5 <= expected.count;  // within 20 %
        matches = matches || (std::labs(dw) <= 1 && std::labs(dh) <= 1 && massOk);
        seen += " " + Str(expected.box.right - expected.box.left) + "x" + Str(expected.box.bottom - expected.box.top) + " with " +
                Str(expected.count) + " dark pixels (" + Str(height) + " px)";
    }
    Check(matches, "Command1's caption has the size and weight of Tahoma 8.25 pt bold",
          "ink " + Str(ink.box.right - ink.box.left) + "x" + Str(ink.box.bottom - ink.box.top) + " with " + Str(ink.count) +
              " dark pixels, expected" + seen);
}

// The close box's centre, found by asking the window itself what is under points of its caption.
bool FindCloseBox(HWND hwnd, POINT& at) {
    RECT frame{};
    GetWindowRect(hwnd, &frame);
    POINT clientOrigin{0, 0};
    ClientToScreen(hwnd, &clientOrigin);
    auto hit = [&](LONG x, LONG y) {
        DWORD_PTR result = HTNOWHERE;
        SendMessageTimeoutW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)), SMTO_ABORTIFHUNG, 5000, &result);
        return result == HTCLOSE;
    };
    for (LONG y = frame.top; y < clientOrigin.y; ++y) {
        LONG right = -1;
        LONG left = -1;
        for (LONG x = frame.right - 1; x > frame.left && x > frame.right - 200; --x) {
            if (hit(x, y)) {
                if (right < 0) right = x;
                left = x;
            } else if (right >= 0) {
                break;
            }
        }
        if (right >= 0) {
            const LONG x = (left + right) / 2;
            LONG bottom = y;
            while (bottom + 1 < clientOrigin.y && hit(x, bottom + 1)) ++bottom;
            at = POINT{x, (y + bottom) / 2};
            return true;
        }
    }
    return false;
}

// The program under test and the handles of its window, once it is up.
struct Program {
    ChildProcess& child;
    HWND hwnd;
    HWND text1;
    HWND command1;
    DWORD threadId;
};

// Waits for the focus to reach a control; false (and no waiting) once the program has ended.
bool FocusReaches(const Program& p, HWND control) {
    return WaitUntil([&] { return FocusOf(p.threadId) == control || !p.child.Running(); }, 10000) && p.child.Running();
}

void CheckAtOpening(const Options& options, const Program& p) {
    Check(TextOf(p.text1) == options.expect, "Text1 shows \"" + Narrow(options.expect) + "\"", "got \"" + Narrow(TextOf(p.text1)) + "\"");
    Check(WaitUntil([&] { return FocusOf(p.threadId) == p.text1; }, 10000), "Text1 has the keyboard focus when the window opens");
    CheckFrame(p.hwnd, options.exe, options.dpi);
    CheckControls(p.hwnd, p.text1, p.command1, options.dpi);
    // The prefix's colours are chosen so that the wrong colour cannot pass by coincidence.
    Check(GetSysColor(COLOR_MENU) != GetSysColor(COLOR_BTNFACE) && GetSysColor(COLOR_MENU) != GetSysColor(COLOR_WINDOW) &&
              GetSysColor(COLOR_WINDOWTEXT) != RGB(0, 0, 0),
          "test colours: menu differs from button face and window, window text is not black");
    CheckButtonPixels(p.command1, options.dpi);
}

// Keys as a user presses them. Each group ends with a key whose effect we can see (the focus
// moving), which shows that every key before it has been handled. Stops once the program ended.
void CheckKeyboard(const Options& options, const Program& p) {
    Check(Foreground(p.hwnd), "the window is in the foreground for input");
    Check(SetClipboardText(L"pasted"), "put \"pasted\" on the clipboard");
    Press(VK_HOME);
    Type(L"typed");
    Press(VK_END);
    Press(VK_BACK);
    Press(VK_HOME);
    Press(VK_DELETE);
    Chord(VK_CONTROL, 'V');
    Chord(VK_SHIFT, VK_INSERT);
    Press(VK_RETURN);
    Press(VK_ESCAPE);
    Press(VK_TAB);
    const bool moved = FocusReaches(p, p.command1);
    if (!Check(Alive(p.child, p.hwnd), "Enter and Escape in Text1 leave the program running")) return;
    Check(moved, "Tab moves the focus from Text1 to Command1");
    Check(TextOf(p.text1) == options.expect, "typing, Backspace, Delete and paste leave Text1 unchanged",
          "now \"" + Narrow(TextOf(p.text1)) + "\"");

    // With the caret gone from Text1, its pixels show the text alone.
    Settle(p.hwnd, p.threadId);
    CheckTextPixels(p.text1, options.expect, options.dpi, options.textColour);

    Press(VK_RETURN);
    Press(VK_ESCAPE);
    Press(VK_TAB);
    const bool movedOn = FocusReaches(p, p.text1);
    if (!Check(Alive(p.child, p.hwnd), "Enter and Escape on Command1 leave the program running")) return;
    Check(movedOn, "Tab moves the focus from Command1 on to Text1");
    // And backwards, both ways round.
    Chord(VK_SHIFT, VK_TAB);
    Check(FocusReaches(p, p.command1), "Shift+Tab moves the focus from Text1 to Command1");
    Chord(VK_SHIFT, VK_TAB);
    Check(FocusReaches(p, p.text1), "Shift+Tab moves the focus from Command1 to Text1");

    Press(VK_HOME);
    Chord(VK_SHIFT, VK_END);
    Chord(VK_CONTROL, 'C');
    Check(WaitUntil([&] { return ClipboardText() == options.expect; }, 10000), "selecting Text1 and Ctrl+C copies its text",
          "clipboard holds \"" + Narrow(ClipboardText()) + "\"");
}

void End(const Options& options, const Program& p) {
    if (options.end == "click") {
        RECT button{};
        GetWindowRect(p.command1, &button);
        Check(Click(POINT{(button.left + button.right) / 2, (button.top + button.bottom) / 2}), "the mouse is on Exit");
        Line("     clicked Exit");
    } else if (options.end == "space") {
        Press(VK_TAB);
        Check(FocusReaches(p, p.command1), "Tab gives Exit the focus");
        Press(VK_SPACE);
        Line("     pressed Space on Exit");
    } else {
        POINT closeBox{};
        if (Check(FindCloseBox(p.hwnd, closeBox), "the caption has a close box (WM_NCHITTEST gives HTCLOSE)")) {
            Check(Click(closeBox), "the mouse is on the close box");
            Line("     clicked the close box at " + Str(closeBox.x) + "," + Str(closeBox.y));
        }
    }
}

int Run(const Options& options) {
    BecomeDpiAware();
    ChildProcess child(Start(options.exe));

    FindContext find{child.id(), nullptr};
    WaitUntil([&] {
        find.found = nullptr;
        EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&find));
        return find.found != nullptr || !child.Running();
    }, 90000);
    // Returning (not exiting) lets ChildProcess end a program that is still running.
    if (find.found == nullptr) {
        Check(false, child.Running() ? "a visible VelmoraForm1 window appears" : "the program shows its window before it ends");
        return 2;
    }
    const Program p{child, find.found, GetDlgItem(find.found, 101), GetDlgItem(find.found, 102),
                    GetWindowThreadProcessId(find.found, nullptr)};
    Line("ok   window found");
    if (!Check(p.text1 != nullptr && p.command1 != nullptr, "controls 101 (Text1) and 102 (Command1) exist")) return 2;

    Check(WaitUntil([&] { return GetForegroundWindow() == p.hwnd; }, 20000), "the window is active when it opens");
    Settle(p.hwnd, p.threadId);

    if (options.print) {
        Line("text: " + Narrow(TextOf(p.text1)));
        if (!options.hold.empty()) Hold(p.hwnd, options.hold);
        PostMessageW(p.hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
        CheckAtOpening(options, p);
        if (!options.hold.empty()) Hold(p.hwnd, options.hold);
        CheckKeyboard(options, p);
        if (Check(Alive(child, p.hwnd), "the program is still running before it is ended")) End(options, p);
    }

    const bool ended = WaitForSingleObject(child.handle(), 30000) == WAIT_OBJECT_0;
    DWORD exitCode = 0;
    GetExitCodeProcess(child.handle(), &exitCode);
    Check(ended, "the program ended");
    if (ended) Check(exitCode == 0, "exit code 0", "got " + Str(static_cast<long>(exitCode)));
    Line(g_failures == 0 ? "probe: all checks passed" : "probe: " + Str(g_failures) + " check(s) failed");
    return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return Run(Parse(argc, argv));
}
