// Small owners for COM and kernel resources: each releases what it holds when
// it goes out of scope, so no exit path needs a hand-written Release,
// VariantClear, SysFreeString, SafeArrayDestroy, CloseHandle or RegCloseKey.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

// An interface pointer that holds one reference.
template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    explicit ComPtr(T* p, bool addRef = true) : p_(p) {
        if (p_ && addRef) p_->AddRef();
    }
    ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
    ComPtr(ComPtr&& o) noexcept : p_(o.Detach()) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // Releases the current pointer and hands out the slot for an out-parameter.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    T* Detach() { return std::exchange(p_, nullptr); }
    void Attach(T* p) {
        Reset();
        p_ = p;
    }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    template <class U> HRESULT As(REFIID iid, ComPtr<U>& out) const {
        return p_ ? p_->QueryInterface(iid, out.PutVoid()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

// A VARIANT that is initialised on construction and cleared on destruction.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v_); }

    VARIANT* Get() { return &v_; }
    const VARIANT* Get() const { return &v_; }
    VARIANT* operator&() { return &v_; }
    VARIANT* operator->() { return &v_; }
    // Clears the value and hands out the VARIANT for an out-parameter.
    VARIANT* Put() {
        VariantClear(&v_);
        VariantInit(&v_);
        return &v_;
    }
    // Moves the value into `out` (which must be initialised or empty) without copying.
    void Detach(VARIANT* out) {
        *out = v_;
        VariantInit(&v_);
    }

private:
    VARIANT v_;
};

// An owned BSTR.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const wchar_t* s) : s_(s ? SysAllocString(s) : nullptr) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : s_(o.Detach()) {}
    ~Bstr() { SysFreeString(s_); }

    BSTR Get() const { return s_; }
    BSTR* Put() {
        SysFreeString(std::exchange(s_, nullptr));
        return &s_;
    }
    BSTR Detach() { return std::exchange(s_, nullptr); }
    UINT Length() const { return SysStringLen(s_); }

private:
    BSTR s_ = nullptr;
};

// An owned SAFEARRAY.
class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(SAFEARRAY* p) : p_(p) {}
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;
    SafeArray(SafeArray&& o) noexcept : p_(o.Detach()) {}
    ~SafeArray() { Reset(); }

    SAFEARRAY* Get() const { return p_; }
    SAFEARRAY** Put() {
        Reset();
        return &p_;
    }
    SAFEARRAY* Detach() { return std::exchange(p_, nullptr); }
    void Reset(SAFEARRAY* p = nullptr) {
        if (SAFEARRAY* old = std::exchange(p_, p)) SafeArrayDestroy(old);
    }

private:
    SAFEARRAY* p_ = nullptr;
};

// Keeps a SAFEARRAY locked for the lifetime of the guard.
class SafeArrayLockGuard {
public:
    explicit SafeArrayLockGuard(SAFEARRAY* p) : p_(p), locked_(p && SUCCEEDED(SafeArrayLock(p))) {}
    SafeArrayLockGuard(const SafeArrayLockGuard&) = delete;
    SafeArrayLockGuard& operator=(const SafeArrayLockGuard&) = delete;
    ~SafeArrayLockGuard() {
        if (locked_) SafeArrayUnlock(p_);
    }
    bool Locked() const { return locked_; }

private:
    SAFEARRAY* p_;
    bool locked_;
};

// A kernel handle closed with CloseHandle; null and INVALID_HANDLE_VALUE mean none.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.Detach()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        Reset(o.Detach());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    HANDLE Detach() { return std::exchange(h_, nullptr); }
    void Reset(HANDLE h = nullptr) {
        HANDLE old = std::exchange(h_, h);
        if (old != nullptr && old != INVALID_HANDLE_VALUE) CloseHandle(old);
    }

private:
    HANDLE h_ = nullptr;
};

// A FindFirstFile search handle.
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() {
        if (Valid()) FindClose(h_);
    }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// An open registry key.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { Reset(); }

    HKEY Get() const { return k_; }
    HKEY* Put() {
        Reset();
        return &k_;
    }
    void Reset() {
        if (HKEY old = std::exchange(k_, nullptr)) RegCloseKey(old);
    }

private:
    HKEY k_ = nullptr;
};

// A module loaded with LoadLibrary(Ex).
class LibraryHandle {
public:
    explicit LibraryHandle(HMODULE h = nullptr) : h_(h) {}
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;
    ~LibraryHandle() { Reset(); }

    HMODULE Get() const { return h_; }
    void Reset(HMODULE h = nullptr) {
        if (HMODULE old = std::exchange(h_, h)) FreeLibrary(old);
    }

private:
    HMODULE h_;
};

// CoInitializeEx/CoUninitialize for the lifetime of the guard.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_MULTITHREADED) : hr_(CoInitializeEx(nullptr, model)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};
