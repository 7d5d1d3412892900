// Automation strings and variants.
#include "platform/com/com.h"

#include <cstdlib>
#include <new>
#include <string> // std::char_traits

namespace {

// An automation string is a block holding the byte length, the units and a terminator; the
// string's pointer is to the units, just after the length.
constexpr size_t kPrefix = sizeof(uint32_t);
// The byte length must fit the 32-bit prefix.
constexpr uint32_t kMaxLength = UINT32_MAX / sizeof(char16_t) - 1;

uint32_t* Header(BSTR text) {
    return reinterpret_cast<uint32_t*>(text) - 1;
}

} // namespace

BSTR SysAllocStringLen(const char16_t* text, uint32_t length) {
    if (length > kMaxLength)
        throw std::bad_alloc();
    const size_t bytes = static_cast<size_t>(length) * sizeof(char16_t);
    // malloc/free: the block is handed out as a plain pointer and freed by SysFreeString.
    auto* block = static_cast<uint32_t*>(std::malloc(kPrefix + bytes + sizeof(char16_t)));
    if (!block)
        throw std::bad_alloc();
    *block = static_cast<uint32_t>(bytes);
    auto* units = reinterpret_cast<char16_t*>(block + 1);
    if (text)
        std::memcpy(units, text, bytes);
    else
        std::memset(units, 0, bytes);
    units[length] = 0;
    return units;
}

BSTR SysAllocString(const char16_t* text) {
    if (!text)
        return nullptr;
    return SysAllocStringLen(text, static_cast<uint32_t>(std::char_traits<char16_t>::length(text)));
}

void SysFreeString(BSTR text) {
    if (text)
        std::free(Header(text));
}

uint32_t SysStringLen(BSTR text) {
    return text ? *Header(text) / sizeof(char16_t) : 0;
}

HRESULT VarBstrCmp(BSTR left, BSTR right, ULONG, ULONG) {
    // Ordinal comparison of the units; a null string is an empty one.
    const uint32_t leftLength = SysStringLen(left);
    const uint32_t rightLength = SysStringLen(right);
    const uint32_t common = leftLength < rightLength ? leftLength : rightLength;
    for (uint32_t i = 0; i < common; ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? VARCMP_LT : VARCMP_GT;
    }
    if (leftLength == rightLength)
        return VARCMP_EQ;
    return leftLength < rightLength ? VARCMP_LT : VARCMP_GT;
}

void VariantInit(VARIANT* v) {
    if (!v)
        return;
    v->vt = VT_EMPTY;
    v->punkVal = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
    if (!v)
        return E_INVALIDARG;
    switch (v->vt) {
    case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
    case VT_DISPATCH:
        if (v->pdispVal)
            v->pdispVal->Release();
        break;
    case VT_UNKNOWN:
        if (v->punkVal)
            v->punkVal->Release();
        break;
    default:
        break;
    }
    VariantInit(v);
    return S_OK;
}
