// The small part of a component object runtime that the program relies on:
// result codes, interface identifiers, IUnknown, automation strings and variants,
// and creation of the program's own in-process classes. It needs nothing itself; every other
// service, the engine and the windows build on its types. The runtime's start and class
// creation are defined in platform/runtime/, the one place that knows all the services.
#pragma once

#include <cstdint>
#include <cstring>

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using BOOL = int32_t;
using WCHAR = char16_t;
using LPWSTR = char16_t*;
using LPCWSTR = const char16_t*;

// BOOL's two values; the toolkit's headers define the same macros when they come first.
#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}

inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IStream = {
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

// A byte stream; the program never reads it, but the download service hands one back.
struct IStream : IUnknown {};

// Automation strings: UTF-16, length-prefixed, zero-terminated. Allocation failure throws
// std::bad_alloc, which stands for the framework's out-of-memory error.
using BSTR = char16_t*;
BSTR SysAllocString(const char16_t* text);
BSTR SysAllocStringLen(const char16_t* text, uint32_t length);
void SysFreeString(BSTR text);
uint32_t SysStringLen(BSTR text);

constexpr ULONG LOCALE_USER_DEFAULT = 0x400;
constexpr HRESULT VARCMP_LT = 0;
constexpr HRESULT VARCMP_EQ = 1;
constexpr HRESULT VARCMP_GT = 2;
constexpr HRESULT VARCMP_NULL = 3;
// Compares two automation strings; flags 0 compare case-sensitively. A null string is an
// empty one, as automation treats it.
HRESULT VarBstrCmp(BSTR left, BSTR right, ULONG lcid, ULONG flags);

struct IDispatch;

using VARTYPE = uint16_t;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_NULL = 1;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_DISPATCH = 9;
constexpr VARTYPE VT_UNKNOWN = 13;

struct VARIANT {
    VARTYPE vt;
    union {
        int32_t lVal;
        BSTR bstrVal;
        IDispatch* pdispVal;
        IUnknown* punkVal;
    };
};

// The automation base of the document's interfaces. The program calls interfaces directly;
// late binding only answers the ambient property queries of a client site.
using DISPID = LONG;

struct DISPPARAMS {
    VARIANT* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, ULONG lcid, void** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPWSTR* rgszNames, UINT cNames, ULONG lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, ULONG lcid, uint16_t wFlags,
                           DISPPARAMS* pDispParams, VARIANT* pVarResult, void* pExcepInfo,
                           UINT* puArgErr) = 0;
};

void VariantInit(VARIANT* v);
// Frees what the variant owns (string, reference) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* v);

// Runtime start and end. CoInitialize also sets up the program's transfer library; a
// negative result means the program cannot run. A test can make it fail.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
void SetCoInitializeFailureForTesting(HRESULT hr); // 0 restores normal behaviour

// The runtime started for as long as the object lives: a successful CoInitialize is undone
// however the scope is left. Both front ends start the runtime through it.
class ComRuntimeScope {
public:
    ComRuntimeScope() : m_hr(CoInitialize(nullptr)) {}
    ~ComRuntimeScope() {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    ComRuntimeScope(const ComRuntimeScope&) = delete;
    ComRuntimeScope& operator=(const ComRuntimeScope&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

constexpr DWORD CLSCTX_ALL = 0x17;
// Creates an instance of one of the program's in-process classes (the HTML document).
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
