// RAII owners for Win32 handles, COM pointers, COM initialisation and icons.
// Copying is deleted so that each resource has exactly one owner.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

// A kernel handle; both NULL and INVALID_HANDLE_VALUE mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : m_handle(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return m_handle; }
    HANDLE* put() {
        reset();
        return &m_handle;
    }
    explicit operator bool() const { return m_handle && m_handle != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(m_handle, nullptr); }
    void reset(HANDLE handle = nullptr) {
        if (*this) CloseHandle(m_handle);
        m_handle = handle;
    }

private:
    HANDLE m_handle = nullptr;
};

// A COM interface pointer, released on destruction.
template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            m_ptr = std::exchange(other.m_ptr, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return m_ptr; }
    T* operator->() const { return m_ptr; }
    T** put() {
        reset();
        return &m_ptr;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    explicit operator bool() const { return m_ptr != nullptr; }
    void reset() {
        if (m_ptr) std::exchange(m_ptr, nullptr)->Release();
    }

private:
    T* m_ptr = nullptr;
};

// COM initialised for the current thread for the lifetime of the scope.
class ComInitScope {
public:
    ComInitScope() : m_result(CoInitialize(nullptr)) {}
    ~ComInitScope() {
        if (SUCCEEDED(m_result)) CoUninitialize();
    }
    ComInitScope(const ComInitScope&) = delete;
    ComInitScope& operator=(const ComInitScope&) = delete;
    HRESULT result() const { return m_result; }

private:
    HRESULT m_result;
};

// An icon loaded or created by us, destroyed with DestroyIcon.
class UniqueIcon {
public:
    UniqueIcon() = default;
    explicit UniqueIcon(HICON icon) : m_icon(icon) {}
    ~UniqueIcon() { reset(); }
    UniqueIcon(UniqueIcon&& other) noexcept : m_icon(std::exchange(other.m_icon, nullptr)) {}
    UniqueIcon& operator=(UniqueIcon&& other) noexcept {
        if (this != &other) {
            reset();
            m_icon = std::exchange(other.m_icon, nullptr);
        }
        return *this;
    }
    UniqueIcon(const UniqueIcon&) = delete;
    UniqueIcon& operator=(const UniqueIcon&) = delete;

    HICON get() const { return m_icon; }
    explicit operator bool() const { return m_icon != nullptr; }
    void reset() {
        if (m_icon) DestroyIcon(std::exchange(m_icon, nullptr));
    }

private:
    HICON m_icon = nullptr;
};
