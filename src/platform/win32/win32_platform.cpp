// The platform port on Windows. Each operation is the Win32 call it stands for, with the port's
// types converted to the platform's; the catalog above holds all the logic.

#include "platform/platform.h"

#include <windows.h>

#include <objbase.h>

#include <cstring>

namespace platform {
namespace {

// Enough wide characters for a class id in braces (38) with room to spare; a longer text is
// not a class id and does not convert.
constexpr int kClassTextCapacity = 100;

bool isRoot(RegKey key) {
    return key == kLocalMachine || key == kClassesRoot;
}

// The port writes the roots as their 32-bit values; Windows sign-extends them on 64-bit.
HKEY toHkey(RegKey key) {
    if (key == kLocalMachine) {
        return HKEY_LOCAL_MACHINE;
    }
    if (key == kClassesRoot) {
        return HKEY_CLASSES_ROOT;
    }
    return reinterpret_cast<HKEY>(key);
}

// windows_layouts.cpp holds the layout checks that make this copy sound.
CLSID toClsid(const ComGuid& id) {
    static_assert(sizeof(ComGuid) == sizeof(CLSID));
    CLSID converted;
    std::memcpy(&converted, &id, sizeof converted);
    return converted;
}

class Win32Platform final : public Platform {
public:
    Status openKey(RegKey parent, const char* path, RegKey* out) override {
        HKEY opened = nullptr;
        const LSTATUS status = RegOpenKeyExA(toHkey(parent), path, 0, KEY_READ, &opened);
        if (status == ERROR_SUCCESS) {
            *out = reinterpret_cast<RegKey>(opened);
        }
        return status;
    }

    Status enumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t size) override {
        return RegEnumKeyA(toHkey(key), index, name, size);
    }

    Status queryValue(RegKey key, const char* valueName, char* data, std::uint32_t size) override {
        DWORD type = REG_NONE;
        DWORD length = size;
        const LSTATUS status = RegQueryValueExA(toHkey(key), valueName, nullptr, &type,
                                                reinterpret_cast<BYTE*>(data), &length);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        // REG_EXPAND_SZ is text as well; it comes back as stored, unexpanded.
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            return ERROR_UNSUPPORTED_TYPE;
        }
        // The registry keeps text as written, possibly without its terminator.
        if (length > 0 && data[length - 1] == '\0') {
            return ERROR_SUCCESS;
        }
        if (length >= size) {
            return ERROR_MORE_DATA;
        }
        data[length] = '\0';
        return ERROR_SUCCESS;
    }

    void closeKey(RegKey key) override {
        if (!isRoot(key)) {
            RegCloseKey(toHkey(key));
        }
    }

    void lowerCase(char* text, std::uint32_t length) override { CharLowerBuffA(text, length); }

    // OpenFile(OF_EXIST) searches the same places for a bare name, but fails on any path of
    // 128 characters or more, which would drop a driver installed in a deep folder.
    bool fileExists(const char* path) override {
        char found[MAX_PATH];
        const DWORD length = SearchPathA(nullptr, path, nullptr, MAX_PATH, found, nullptr);
        if (length == 0 || length >= MAX_PATH) {
            return false;
        }
        const DWORD attributes = GetFileAttributesA(found);
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    bool classIdFromText(const char* text, ComGuid* out) override {
        wchar_t wide[kClassTextCapacity];
        if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kClassTextCapacity) == 0) {
            return false;
        }
        CLSID id;
        if (CLSIDFromString(wide, &id) != NOERROR) {
            return false;
        }
        std::memcpy(out, &id, sizeof id);
        return true;
    }

    void comInitialize() override { CoInitialize(nullptr); }
    void comUninitialize() override { CoUninitialize(); }

    std::int32_t createInstance(const ComGuid& classId, IASIO** out) override {
        const CLSID id = toClsid(classId);
        void* object = nullptr;
        const HRESULT result = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, id, &object);
        *out = result == S_OK ? static_cast<IASIO*>(object) : nullptr;
        return result;
    }
};

} // namespace

Platform& win32Platform() {
    static Win32Platform instance;
    return instance;
}

} // namespace platform
