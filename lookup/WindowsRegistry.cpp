// ReadProductKey() on the Windows registry: advapi32 is loaded from the system directory and
// each function is bound by name at its first call, so a missing one is a catchable error.
#include "RegistryAccess.h"

#include <windows.h>

#include <string>
#include <vector>

namespace Module1 {
namespace {

static_assert(kKeyQueryValue == KEY_QUERY_VALUE && kKeyWow64_64Key == KEY_WOW64_64KEY,
              "access rights must match Windows'");

// Never through the search path, so no advapi32.dll planted beside the program is loaded.
HMODULE LoadFromSystemDirectory(const wchar_t* fileName)
{
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::wstring path = std::wstring(directory, length) + L"\\" + fileName;
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

class Library {
public:
    Library() = default;
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    ~Library()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    HMODULE Get() const { return module_; }
    void Load(const wchar_t* fileName) { module_ = LoadFromSystemDirectory(fileName); }

private:
    HMODULE module_ = nullptr;
};

// The registry functions take ANSI names; ours are ASCII, but convert as the platform does.
// A NUL-terminated vector rather than std::string: it keeps libstdc++'s string code out of the program.
std::vector<char> ToAnsi(const std::wstring& text)
{
    const int wideLength = static_cast<int>(text.size() + 1); // with the terminating NUL
    const int length = WideCharToMultiByte(CP_ACP, 0, text.c_str(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        throw RegistryUnavailable("registry name cannot be converted to the ANSI code page");
    }
    std::vector<char> ansi(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), wideLength, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

class WindowsRegistry final : public RegistryAccess {
public:
    RegistryStatus OpenKey(RegistryRoot, const std::wstring& subKey, std::uint32_t access, RegistryKey& key) override
    {
        const auto regOpenKeyExA = Bind(openKey_, "RegOpenKeyExA");
        HKEY opened = nullptr;
        const LONG status = regOpenKeyExA(HKEY_LOCAL_MACHINE, ToAnsi(subKey).data(), 0, access, &opened);
        key = reinterpret_cast<RegistryKey>(opened);
        return status;
    }

    RegistryStatus QueryValue(RegistryKey key, const std::wstring& valueName, std::uint32_t& type,
                              std::uint8_t* data, std::uint32_t& size) override
    {
        const auto regQueryValueExA = Bind(queryValue_, "RegQueryValueExA");
        DWORD valueType = 0;
        DWORD valueSize = size;
        const LONG status =
            regQueryValueExA(Handle(key), ToAnsi(valueName).data(), nullptr, &valueType, data, &valueSize);
        type = valueType;
        size = valueSize;
        return status;
    }

    RegistryStatus CloseKey(RegistryKey key) override
    {
        return Bind(closeKey_, "RegCloseKey")(Handle(key));
    }

private:
    static HKEY Handle(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

    template <typename Function>
    Function Bind(Function& slot, const char* name)
    {
        if (slot == nullptr) {
            if (advapi32_.Get() == nullptr) {
                advapi32_.Load(L"advapi32.dll");
            }
            if (advapi32_.Get() == nullptr) {
                throw RegistryUnavailable("advapi32.dll cannot be loaded");
            }
            const FARPROC address = GetProcAddress(advapi32_.Get(), name);
            if (address == nullptr) {
                throw RegistryUnavailable("advapi32.dll lacks a registry function");
            }
            // Through void(*)() so the compiler accepts the conversion between function types.
            slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
        }
        return slot;
    }

    Library advapi32_; // loaded at the first registry call, freed when the lookup ends
    decltype(&RegOpenKeyExA) openKey_ = nullptr;
    decltype(&RegQueryValueExA) queryValue_ = nullptr;
    decltype(&RegCloseKey) closeKey_ = nullptr;
};

} // namespace

ProductKeyText ReadProductKey()
{
    WindowsRegistry registry;
    return ReadProductKey(registry);
}

} // namespace Module1
