#pragma once

#include <windows.h>

namespace tidewell::win32 {

// Move-only owner of one Win32 resource; Traits names its type, its invalid value and the one
// function that releases it.
template <typename Traits> class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::invalid(); }

    Type release() noexcept {
        const Type value = value_;
        value_ = Traits::invalid();
        return value;
    }

    void reset(Type value = Traits::invalid()) noexcept {
        if (valid()) {
            Traits::close(value_);
        }
        value_ = value;
    }

    // For out-parameters (RegOpenKeyExW and the like): releases what is held first.
    Type* receive() noexcept {
        reset();
        return &value_;
    }

private:
    Type value_ = Traits::invalid();
};

struct KeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type key) { RegCloseKey(key); }
};

// Process, thread and other kernel handles whose failure value is null.
struct HandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type handle) { CloseHandle(handle); }
};

// CreateFileW and CreateToolhelp32Snapshot fail with INVALID_HANDLE_VALUE instead.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type handle) { CloseHandle(handle); }
};

struct FindTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type handle) { FindClose(handle); }
};

struct ServiceTraits {
    using Type = SC_HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type handle) { CloseServiceHandle(handle); }
};

// Buffers the system allocated for us (FormatMessageW with FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type invalid() { return nullptr; }
    static void close(Type memory) { LocalFree(memory); }
};

using UniqueKey = UniqueHandle<KeyTraits>;
using UniqueKernelHandle = UniqueHandle<HandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueService = UniqueHandle<ServiceTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;

} // namespace tidewell::win32
