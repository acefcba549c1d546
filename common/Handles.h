#pragma once
// Owning wrappers for every kind of handle the program opens. Each closes its
// handle exactly once, on destruction or reset, so early returns and
// exceptions never leak one.

#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>
#include <wintrust.h>
#include <softpub.h>

#include <utility>

namespace orivanta {

template <typename T, typename Traits>
class UniqueResource {
public:
    UniqueResource() noexcept = default;
    explicit UniqueResource(T value) noexcept : value_(value) {}
    ~UniqueResource() { reset(); }

    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    T get() const noexcept { return value_; }
    bool valid() const noexcept { return Traits::IsValid(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Address for APIs that return the handle through an out-parameter.
    T* put() noexcept {
        reset();
        return &value_;
    }
    T release() noexcept { return std::exchange(value_, Traits::Invalid()); }
    void reset(T value = Traits::Invalid()) noexcept {
        T old = std::exchange(value_, value);
        if (Traits::IsValid(old)) Traits::Close(old);
    }

private:
    T value_ = Traits::Invalid();
};

struct KernelHandleTraits {
    // CreateFileW reports failure as INVALID_HANDLE_VALUE, most other calls as null.
    static HANDLE Invalid() noexcept { return nullptr; }
    static bool IsValid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};
using UniqueHandle = UniqueResource<HANDLE, KernelHandleTraits>;

struct FindHandleTraits {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE h) noexcept { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void Close(HANDLE h) noexcept { ::FindClose(h); }
};
using UniqueFindHandle = UniqueResource<HANDLE, FindHandleTraits>;

struct InternetHandleTraits {
    static HINTERNET Invalid() noexcept { return nullptr; }
    static bool IsValid(HINTERNET h) noexcept { return h != nullptr; }
    static void Close(HINTERNET h) noexcept { ::WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueResource<HINTERNET, InternetHandleTraits>;

struct SocketTraits {
    static SOCKET Invalid() noexcept { return INVALID_SOCKET; }
    static bool IsValid(SOCKET s) noexcept { return s != INVALID_SOCKET; }
    static void Close(SOCKET s) noexcept { ::closesocket(s); }
};
using UniqueSocket = UniqueResource<SOCKET, SocketTraits>;

struct RegistryKeyTraits {
    static HKEY Invalid() noexcept { return nullptr; }
    static bool IsValid(HKEY k) noexcept { return k != nullptr; }
    static void Close(HKEY k) noexcept { ::RegCloseKey(k); }
};
using UniqueRegKey = UniqueResource<HKEY, RegistryKeyTraits>;

struct LocalMemoryTraits {
    static HLOCAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HLOCAL m) noexcept { return m != nullptr; }
    static void Close(HLOCAL m) noexcept { ::LocalFree(m); }
};
using UniqueLocalMemory = UniqueResource<HLOCAL, LocalMemoryTraits>;

struct GlobalMemoryTraits {
    static HGLOBAL Invalid() noexcept { return nullptr; }
    static bool IsValid(HGLOBAL m) noexcept { return m != nullptr; }
    static void Close(HGLOBAL m) noexcept { ::GlobalFree(m); }
};
using UniqueGlobalMemory = UniqueResource<HGLOBAL, GlobalMemoryTraits>;

struct AlgorithmTraits {
    static BCRYPT_ALG_HANDLE Invalid() noexcept { return nullptr; }
    static bool IsValid(BCRYPT_ALG_HANDLE h) noexcept { return h != nullptr; }
    static void Close(BCRYPT_ALG_HANDLE h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using UniqueAlgorithm = UniqueResource<BCRYPT_ALG_HANDLE, AlgorithmTraits>;

struct HashTraits {
    static BCRYPT_HASH_HANDLE Invalid() noexcept { return nullptr; }
    static bool IsValid(BCRYPT_HASH_HANDLE h) noexcept { return h != nullptr; }
    static void Close(BCRYPT_HASH_HANDLE h) noexcept { ::BCryptDestroyHash(h); }
};
using UniqueHash = UniqueResource<BCRYPT_HASH_HANDLE, HashTraits>;

// The state WinVerifyTrust keeps for one verification of data, released with
// the same action once the signer's certificate has been read from it.
struct TrustVerification {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_DATA data{};

    TrustVerification() { data.cbStruct = sizeof(data); }
    ~TrustVerification() {
        if (data.hWVTStateData == nullptr) return;
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;
};

struct HeapMemoryTraits {
    static void* Invalid() noexcept { return nullptr; }
    static bool IsValid(void* p) noexcept { return p != nullptr; }
    static void Close(void* p) noexcept { ::HeapFree(::GetProcessHeap(), 0, p); }
};
using UniqueHeapMemory = UniqueResource<void*, HeapMemoryTraits>;

struct GdiObjectTraits {
    static HGDIOBJ Invalid() noexcept { return nullptr; }
    static bool IsValid(HGDIOBJ h) noexcept { return h != nullptr; }
    static void Close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
using UniqueGdiObject = UniqueResource<HGDIOBJ, GdiObjectTraits>;

struct MemoryDcTraits {
    static HDC Invalid() noexcept { return nullptr; }
    static bool IsValid(HDC h) noexcept { return h != nullptr; }
    static void Close(HDC h) noexcept { ::DeleteDC(h); }
};
using UniqueMemoryDc = UniqueResource<HDC, MemoryDcTraits>;

// Selects a GDI object into a DC for a scope and restores the previous one.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~ScopedSelectObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Minimal owning COM pointer: Release on destruction, AddRef on copy.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr& other) noexcept : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }

    T* get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    T** put() noexcept {
        reset();
        return &ptr_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    void reset() noexcept {
        if (T* old = std::exchange(ptr_, nullptr)) old->Release();
    }

private:
    T* ptr_ = nullptr;
};

}  // namespace orivanta
