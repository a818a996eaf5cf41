#pragma once

#include <unistd.h>

#include <type_traits>
#include <utility>

namespace platform::support {

// The sole owner of one C handle that is not a GLib object (those have GLibPtr.h): released
// once, by `Release`, when the owner goes, is reset or is assigned another. `Invalid` is the
// handle's "none": nullptr for pointers, -1 for descriptors. Every such release in the
// backends goes through this type, so none is forgotten or made twice.
template <class Handle, auto Release, Handle Invalid = Handle{}>
class [[nodiscard]] Owned {
  public:
    // What the release answers: a descriptor's close can report a write that failed late.
    using ReleaseAnswer = std::invoke_result_t<decltype(Release), Handle>;

    Owned() = default;
    explicit Owned(Handle handle) : m_handle(handle) {}
    Owned(Owned&& other) noexcept : m_handle(other.take()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) replace(other.take());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { (void)reset(); }

    Handle get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Invalid; }

    // Gives the handle up without releasing it, as to a call that takes it over.
    [[nodiscard]] Handle take() { return std::exchange(m_handle, Invalid); }

    // Releases the handle now, when there is one.
    ReleaseAnswer reset() {
        Handle handle = take();
        if constexpr (std::is_void_v<ReleaseAnswer>) {
            if (handle != Invalid) Release(handle);
        } else {
            return handle != Invalid ? Release(handle) : ReleaseAnswer{};
        }
    }

    // Releases the handle held and holds `handle` instead.
    void replace(Handle handle) {
        (void)reset();
        m_handle = handle;
    }

  private:
    Handle m_handle = Invalid;
};

inline int closeDescriptor(int descriptor) {
    return ::close(descriptor);
}

// A file descriptor or socket. `reset()` answers close's 0 or -1 (with errno).
using FileDescriptor = Owned<int, closeDescriptor, -1>;

}  // namespace platform::support
