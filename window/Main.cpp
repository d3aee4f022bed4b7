// The program's start: harden DLL loading, open the window, run its message loop.
#include "Form1.h"
#include "SystemFunction.h"

#include <cstdlib>
#include <new>

namespace {

// Before any library is loaded on our behalf, keep DLL searches to the system directory, so a
// DLL planted beside the program (say, in a Downloads folder) is never loaded. Present from
// Windows 8, and on Windows 7 with KB2533623; looked up so the program still starts without it.
void RestrictDllSearchToSystemDirectory()
{
    using SetDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        Velmora::SystemFunction<SetDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefaultDllDirectories != nullptr) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

int RunMessageLoop(const Velmora::Form1& form)
{
    MSG message;
    BOOL result;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) {
            return 1;
        }
        if (Velmora::Form1::IsEnterOrEscape(message)) {
            continue;
        }
        // Tab and Shift+Tab move between the controls as in a dialog.
        if (!IsDialogMessageW(form.Handle(), &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

} // namespace

#if defined(__GLIBCXX__)
// libstdc++'s default terminate handler prints a demangled message to stderr, which a GUI
// program does not have; replacing it keeps the demangler and printf (about 60 KiB) out of
// the statically linked program. Nothing may escape to terminate anyway.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

// std::wstring's error paths (lengths past max_size) cannot be reached with a 29-character key,
// yet libstdc++'s helpers for them drag both string ABIs and the standard exception classes
// into the static program (about 85 KiB). They raise bad_alloc here, which Load's handler
// catches like any other failure; a helper missing from this list fails the link loudly.
namespace std {
void __throw_length_error(const char*) { throw bad_alloc(); }
void __throw_logic_error(const char*) { throw bad_alloc(); }
void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
} // namespace std
#endif

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    RestrictDllSearchToSystemDirectory();

    Velmora::Form1 form(instance);
    if (!form.Create()) {
        return 1;
    }
    form.Show(showCommand);
    return RunMessageLoop(form);
}
