// IUnknown for the program's objects that offer one interface.
#pragma once

#include "platform/com/com.h"

// QueryInterface answers IUnknown and each identifier in Offered with the Interface part;
// one plain reference count starting at 1 for the creator; the last Release deletes the
// object through its virtual destructor.
template <class Interface, const IID&... Offered> class CComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Offered) || ...)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        ULONG count = --m_cRef;
        if (count == 0)
            delete this;
        return count;
    }

protected:
    CComObject() = default;
    virtual ~CComObject() = default;

private:
    ULONG m_cRef = 1;
};
