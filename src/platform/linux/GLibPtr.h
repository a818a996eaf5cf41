#pragma once

// Ownership helpers for GLib objects, used only inside the Linux backend.

#include <glib-object.h>

#include <string>
#include <utility>

#include "../Status.h"

namespace platform::glib {

// Holds one reference to a GObject and drops it when destroyed.
template <typename T>
class ObjectPtr {
public:
    ObjectPtr() = default;
    // Takes over a reference the caller owns (a "transfer full" return value).
    static ObjectPtr adopt(T* object) { return ObjectPtr(object); }
    ObjectPtr(const ObjectPtr& other) : m_object(other.m_object) {
        if (m_object) g_object_ref(m_object);
    }
    ObjectPtr(ObjectPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    ObjectPtr& operator=(ObjectPtr other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~ObjectPtr() {
        if (m_object) g_object_unref(m_object);
    }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    explicit ObjectPtr(T* object) : m_object(object) {}
    T* m_object = nullptr;
};

// Connects a typed callback: the handler's signature is checked at compile time against
// the function pointer type given, instead of being cast away through G_CALLBACK.
template <typename Handler, typename Instance>
gulong connectSignal(Instance* instance, const char* signal, Handler handler, gpointer data) {
    static_assert(std::is_pointer_v<Handler>, "pass a function pointer or captureless lambda");
    return g_signal_connect_data(instance, signal, reinterpret_cast<GCallback>(handler), data,
                                 nullptr, GConnectFlags{});
}

// Turns a GError into our own status and frees it.
inline Status statusFromError(GError* error) {
    if (!error) return Status::ok();
    std::string message = error->message ? error->message : "unknown error";
    g_error_free(error);
    return Status::failure(std::move(message));
}

}  // namespace platform::glib
