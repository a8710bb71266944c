#pragma once
// CNG and other system services that are looked up at run time: bcrypt.dll does not exist before
// Windows Vista, and the program must still start on Windows XP. Internal to the Win32 backend.

#include <windows.h>

namespace platform {
namespace cng {

// Types and values as bcrypt.h declares them.
using Status = LONG;
using Handle = void*;
using OpenAlgorithmFn = Status(WINAPI*)(Handle*, LPCWSTR, LPCWSTR, ULONG);
using CloseAlgorithmFn = Status(WINAPI*)(Handle, ULONG);
using GetPropertyFn = Status(WINAPI*)(Handle, LPCWSTR, PUCHAR, ULONG, ULONG*, ULONG);
using CreateHashFn = Status(WINAPI*)(Handle, Handle*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);
using HashDataFn = Status(WINAPI*)(Handle, PUCHAR, ULONG, ULONG);
using FinishHashFn = Status(WINAPI*)(Handle, PUCHAR, ULONG, ULONG);
using DestroyFn = Status(WINAPI*)(Handle);
using ImportKeyPairFn = Status(WINAPI*)(Handle, Handle, LPCWSTR, Handle*, PUCHAR, ULONG, ULONG);
using VerifySignatureFn = Status(WINAPI*)(Handle, void*, PUCHAR, ULONG, PUCHAR, ULONG, ULONG);

struct Cng {
    OpenAlgorithmFn openAlgorithm = nullptr;
    CloseAlgorithmFn closeAlgorithm = nullptr;
    GetPropertyFn getProperty = nullptr;
    CreateHashFn createHash = nullptr;
    HashDataFn hashData = nullptr;
    FinishHashFn finishHash = nullptr;
    DestroyFn destroyHash = nullptr;
    ImportKeyPairFn importKeyPair = nullptr;
    VerifySignatureFn verifySignature = nullptr;
    DestroyFn destroyKey = nullptr;
    bool loaded = false;
};

// bcrypt.dll, loaded once and kept for the rest of the process; `loaded` is false when it or one
// of its functions is missing.
const Cng& LoadCng();

// One function of a loaded library, as the pointer type it is called through.
template <typename Fn> bool FindFunction(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return fn != nullptr;
}

} // namespace cng
} // namespace platform
