#pragma once

// Ownership helpers for GLib objects, used only inside the Linux backend.

#include <glib-object.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "../../Status.h"

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

// A main-loop source this object owns: removed when replaced or destroyed. A source that ends
// itself (its callback answered G_SOURCE_REMOVE) is let go with forget() first.
class SourceId {
  public:
    SourceId() = default;
    explicit SourceId(guint id) : m_id(id) {}
    SourceId(const SourceId&) = delete;
    SourceId& operator=(const SourceId&) = delete;
    SourceId& operator=(guint id) {
        remove();
        m_id = id;
        return *this;
    }
    ~SourceId() { remove(); }

    void remove() {
        if (m_id) g_source_remove(m_id);
        m_id = 0;
    }
    void forget() { m_id = 0; }
    explicit operator bool() const { return m_id != 0; }

  private:
    guint m_id = 0;
};

// A source attached to a context of our own (not the default one, where SourceId serves):
// destroyed and let go with this.
class AttachedSource {
  public:
    AttachedSource(GSource* source, GMainContext* context) : m_source(source) {
        g_source_attach(m_source, context);
    }
    AttachedSource(const AttachedSource&) = delete;
    AttachedSource& operator=(const AttachedSource&) = delete;
    ~AttachedSource() {
        g_source_destroy(m_source);
        g_source_unref(m_source);
    }

  private:
    GSource* m_source;
};

// A new main context, the calling thread's default while this lives.
class ThreadDefaultContext {
  public:
    ThreadDefaultContext() : m_context(g_main_context_new()) {
        g_main_context_push_thread_default(m_context);
    }
    ThreadDefaultContext(const ThreadDefaultContext&) = delete;
    ThreadDefaultContext& operator=(const ThreadDefaultContext&) = delete;
    ~ThreadDefaultContext() {
        g_main_context_pop_thread_default(m_context);
        g_main_context_unref(m_context);
    }

    GMainContext* get() const { return m_context; }

  private:
    GMainContext* m_context;
};

// A connected signal handler, disconnected when this is destroyed (unless the instance went
// first, which disconnects all of its handlers itself).
class SignalConnection {
  public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : m_instance(instance), m_id(id) {
        g_object_add_weak_pointer(G_OBJECT(m_instance), &m_instance);
    }
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    SignalConnection(SignalConnection&& other) noexcept { *this = std::move(other); }
    SignalConnection& operator=(SignalConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            if (other.m_instance) {
                g_object_remove_weak_pointer(G_OBJECT(other.m_instance), &other.m_instance);
                m_instance = std::exchange(other.m_instance, nullptr);
                g_object_add_weak_pointer(G_OBJECT(m_instance), &m_instance);
            }
            m_id = std::exchange(other.m_id, 0);
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

    void disconnect() {
        if (!m_instance) return;
        g_object_remove_weak_pointer(G_OBJECT(m_instance), &m_instance);
        if (m_id && g_signal_handler_is_connected(m_instance, m_id))
            g_signal_handler_disconnect(m_instance, m_id);
        m_instance = nullptr;
        m_id = 0;
    }

  private:
    gpointer m_instance = nullptr;
    gulong m_id = 0;
};

namespace detail {
template <typename... Args>
struct LastIsUserData : std::false_type {};
template <typename Last>
struct LastIsUserData<Last> : std::is_same<Last, gpointer> {};
template <typename First, typename... Rest>
struct LastIsUserData<First, Rest...> : LastIsUserData<Rest...> {};
}  // namespace detail

// Connects a typed handler. Its first parameter must be the emitting instance's own type and
// its last gpointer, or it does not compile (G_CALLBACK would cast anything). The parameters
// between are the signal's and are not checked: nothing at compile time knows them. `data`
// must outlive the connection.
template <typename Instance, typename Return, typename... Args>
[[nodiscard]] SignalConnection connectSignal(Instance* instance, const char* signal,
                                             Return (*handler)(Instance*, Args...), gpointer data) {
    static_assert(detail::LastIsUserData<Args...>::value,
                  "the handler's last parameter is gpointer");
    return SignalConnection(
        instance, g_signal_connect_data(instance, signal, reinterpret_cast<GCallback>(handler),
                                        data, nullptr, GConnectFlags{}));
}

// As above, with data the connection owns: it is deleted when the handler is disconnected or
// the instance is finalized, whichever comes first.
template <typename Instance, typename Return, typename Data, typename... Args>
[[nodiscard]] SignalConnection connectSignal(Instance* instance, const char* signal,
                                             Return (*handler)(Instance*, Args...),
                                             std::unique_ptr<Data> data) {
    static_assert(detail::LastIsUserData<Args...>::value,
                  "the handler's last parameter is gpointer");
    return SignalConnection(
        instance,
        g_signal_connect_data(
            instance, signal, reinterpret_cast<GCallback>(handler), data.release(),
            +[](gpointer owned, GClosure*) { delete static_cast<Data*>(owned); }, GConnectFlags{}));
}

// Turns a GError into our own status and frees it.
inline Status statusFromError(GError* error) {
    if (!error) return Status::ok();
    std::string message = error->message ? error->message : "unknown error";
    g_error_free(error);
    return Status::failure(std::move(message));
}

}  // namespace platform::glib
