// The program's one window: the key in a locked, centred text field, and an "Exit" button.
#pragma once

#include <windows.h>

namespace Velmora {

// Owns a GDI font and deletes it when replaced or destroyed.
class Font {
public:
    Font() = default;
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    ~Font() { Reset(nullptr); }
    HFONT Get() const { return font_; }
    void Reset(HFONT font)
    {
        if (font_ != nullptr) {
            DeleteObject(font_);
        }
        font_ = font;
    }

private:
    HFONT font_ = nullptr;
};

class Form1 {
public:
    explicit Form1(HINSTANCE instance) : instance_(instance) {}
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window hidden, runs Load, then lays it out centred; false if it cannot be created.
    bool Create();
    void Show(int showCommand) const;
    HWND Handle() const { return window_; }

    // Enter and Escape press nothing in this window, so the loop drops them before dialog handling.
    static bool IsEnterOrEscape(const MSG& message);

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // The window's events.
    bool OnCreate();
    void Form1_Load();
    void Command1_Click();
    LRESULT OnControlColor(HDC dc);
    void OnActivate(WPARAM wParam);
    void OnDpiChanged(UINT dpi, const RECT& suggested);

    // Sizes the font and the controls for a DPI; positions are in twips.
    void ApplyDpi(UINT dpi);
    SIZE WindowSizeFor(UINT dpi) const;
    void CentreOnMonitor(UINT dpi); // sizes the window too

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HWND text1_ = nullptr;
    HWND command1_ = nullptr;
    HWND lastFocus_ = nullptr; // given back the focus when the window is activated again
    Font font_;
};

} // namespace Velmora
