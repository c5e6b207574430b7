// Owners for C objects: a reference held by GObjectPtr, a signal handler by SignalConnection.
#pragma once

#include <glib-object.h>
#include <utility>

namespace qv {

template <class T>
class GObjectPtr {
public:
    GObjectPtr() = default;
    // Takes over a reference the caller already owns (a "transfer full" return value).
    static GObjectPtr adopt(T* object)
    {
        GObjectPtr p;
        p.m_object = object;
        return p;
    }
    // Adds a reference of its own.
    static GObjectPtr retain(T* object)
    {
        if (object)
            g_object_ref(object);
        return adopt(object);
    }
    GObjectPtr(const GObjectPtr& other) { *this = retain(other.m_object); }
    GObjectPtr& operator=(const GObjectPtr& other)
    {
        if (this != &other)
            *this = retain(other.m_object);
        return *this;
    }
    GObjectPtr(GObjectPtr&& other) noexcept
        : m_object(std::exchange(other.m_object, nullptr))
    {
    }
    GObjectPtr& operator=(GObjectPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }
    ~GObjectPtr() { reset(); }

    void reset()
    {
        if (m_object)
            g_object_unref(std::exchange(m_object, nullptr));
    }
    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    bool operator==(const GObjectPtr& other) const { return m_object == other.m_object; }
    bool operator==(const T* other) const { return m_object == other; }

private:
    T* m_object = nullptr;
};

// Disconnects its handler when destroyed or reset; the instance must outlive it or be
// released with the handler still attached (g_signal_handler_is_connected is checked).
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id)
        : m_instance(instance)
        , m_id(id)
    {
        if (m_instance)
            g_object_add_weak_pointer(G_OBJECT(m_instance), &m_instance);
    }
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    SignalConnection(SignalConnection&& o) noexcept { *this = std::move(o); }
    SignalConnection& operator=(SignalConnection&& o) noexcept
    {
        if (this != &o) {
            disconnect();
            m_id = std::exchange(o.m_id, 0);
            m_instance = o.m_instance;
            if (m_instance) {
                g_object_remove_weak_pointer(G_OBJECT(m_instance), &o.m_instance);
                g_object_add_weak_pointer(G_OBJECT(m_instance), &m_instance);
            }
            o.m_instance = nullptr;
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

    void disconnect()
    {
        if (m_instance) {
            if (m_id && g_signal_handler_is_connected(m_instance, m_id))
                g_signal_handler_disconnect(m_instance, m_id);
            g_object_remove_weak_pointer(G_OBJECT(m_instance), &m_instance);
        }
        m_instance = nullptr;
        m_id = 0;
    }

private:
    gpointer m_instance = nullptr;
    gulong m_id = 0;
};

} // namespace qv
