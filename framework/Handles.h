// RAII owners: one move-only template for every kind of handle the program
// opens (kernel handles, icons, crypto providers, COM interfaces), and a
// COM-initialisation scope. Copying is deleted so that each resource has
// exactly one owner.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>
#include <vector>

// Traits name the handle type, the values that mean "none" and how to close
// one: struct { using Type = ...; static bool IsValid(Type); static void Close(Type); }
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() = default;
    explicit UniqueResource(Type value) : m_value(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type get() const { return m_value; }
    // For functions that hand back a new handle through a pointer.
    Type* put() {
        reset();
        return &m_value;
    }
    explicit operator bool() const { return Traits::IsValid(m_value); }
    Type release() { return std::exchange(m_value, Type()); }
    void reset(Type value = Type()) {
        if (Traits::IsValid(m_value)) Traits::Close(m_value);
        m_value = value;
    }

private:
    Type m_value = Type();
};

// A kernel handle; both NULL and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits {
    using Type = HANDLE;
    static bool IsValid(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// An icon loaded or created by us (never a shared one from LoadIcon).
struct IconTraits {
    using Type = HICON;
    static bool IsValid(HICON icon) { return icon != nullptr; }
    static void Close(HICON icon) { DestroyIcon(icon); }
};
using UniqueIcon = UniqueResource<IconTraits>;

// A COM interface pointer, released on destruction.
template <typename T>
struct ComTraits {
    using Type = T*;
    static bool IsValid(T* pointer) { return pointer != nullptr; }
    static void Close(T* pointer) { pointer->Release(); }
};
template <typename T>
class ComPtr : public UniqueResource<ComTraits<T>> {
public:
    T* operator->() const { return this->get(); }
    void** put_void() { return reinterpret_cast<void**>(this->put()); }
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

// The attribute list naming the only handles a new process may inherit
// (given with EXTENDED_STARTUPINFO_PRESENT), whatever else is inheritable in
// this process at that moment: another thread's pipe, or handles that
// whoever started us passed down. The handles array is read when the
// process is created, so it must outlive that call. get() is null when the
// list cannot be made.
class InheritList {
public:
    InheritList(HANDLE* handles, size_t count) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        m_buffer.resize(size);
        const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(m_buffer.data());
        if (size && InitializeProcThreadAttributeList(list, 1, 0, &size)) {
            m_list = list;
            if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                           count * sizeof(HANDLE), nullptr, nullptr)) {
                DeleteProcThreadAttributeList(list);
                m_list = nullptr;
            }
        }
    }
    ~InheritList() {
        if (m_list) DeleteProcThreadAttributeList(m_list);
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;
    LPPROC_THREAD_ATTRIBUTE_LIST get() const { return m_list; }

private:
    std::vector<char> m_buffer;
    LPPROC_THREAD_ATTRIBUTE_LIST m_list = nullptr;
};
