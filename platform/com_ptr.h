// Owning holder of one counted reference.
#pragma once

#include "platform/com.h"

#include <utility>

template <class T> class CComPtr {
public:
    CComPtr() = default;
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != &other) {
            Release();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }
    ~CComPtr() { Release(); }

    // Takes over a reference that the caller already holds.
    static CComPtr Attach(T* p) {
        CComPtr ptr;
        ptr.m_p = p;
        return ptr;
    }

    void Release() {
        if (m_p)
            std::exchange(m_p, nullptr)->Release();
    }
    T* Detach() { return std::exchange(m_p, nullptr); }
    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // For out-parameters: the holder must be empty.
    T** operator&() { return &m_p; }
    void** ppv() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p = nullptr;
};
