// Owning holders of a counted reference, an automation string and a variant.
#pragma once

#include "platform/com/com.h"

#include <memory>
#include <utility>

template <class T> class CComPtr {
public:
    CComPtr() = default;
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != std::addressof(other)) {
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

// An automation string that is freed when it goes out of scope.
class CBstr {
public:
    CBstr() = default;
    explicit CBstr(const char16_t* text) : m_bstr(SysAllocString(text)) {}
    ~CBstr() { SysFreeString(m_bstr); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR get() const { return m_bstr; }
    void Free() { SysFreeString(std::exchange(m_bstr, nullptr)); }
    // For out-parameters: the holder must be empty.
    BSTR* operator&() { return &m_bstr; }

private:
    BSTR m_bstr = nullptr;
};

// A variant that is cleared when it goes out of scope.
class CVariant {
public:
    CVariant() { VariantInit(&m_var); }
    ~CVariant() { VariantClear(&m_var); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    VARIANT* operator&() { return &m_var; }
    VARIANT& get() { return m_var; }
    const VARIANT* operator->() const { return &m_var; }

private:
    VARIANT m_var;
};
