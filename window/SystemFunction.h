// Functions newer than Windows 7 are looked up at run time, so the program still starts there.
#pragma once

#include <windows.h>

namespace Velmora {

// The named function of a system DLL the program already has loaded, or null where it is absent.
template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name)
{
    const HMODULE loaded = GetModuleHandleW(module);
    const FARPROC address = loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
    // Through void(*)() so the compiler accepts the conversion between function types.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

} // namespace Velmora
