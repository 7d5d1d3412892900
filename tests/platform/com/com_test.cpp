#include "platform/com/com.h"
#include "platform/html/mshtml.h"

#include <gtest/gtest.h>

#include <new>

namespace {

// Counts its references; never deleted by Release, so the test can look at the count.
struct CountedUnknown : IUnknown {
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
};

struct CountedDispatch : IDispatch {
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, ULONG, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPWSTR*, UINT, ULONG, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, ULONG, uint16_t, DISPPARAMS*, VARIANT*, void*, UINT*) override {
        return E_NOTIMPL;
    }
};

} // namespace

TEST(ComStrings, AllocateMeasureAndFree) {
    BSTR text = SysAllocString(u"href");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 4u);
    EXPECT_EQ(std::u16string(text), u"href");
    SysFreeString(text);

    const char16_t withNul[] = {u'a', 0, u'b'};
    BSTR counted = SysAllocStringLen(withNul, 3);
    EXPECT_EQ(SysStringLen(counted), 3u);
    EXPECT_EQ(counted[2], u'b');
    EXPECT_EQ(counted[3], 0);
    SysFreeString(counted);

    BSTR blank = SysAllocStringLen(nullptr, 2);
    EXPECT_EQ(blank[0], 0);
    EXPECT_EQ(blank[2], 0);
    SysFreeString(blank);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
    EXPECT_THROW(SysAllocStringLen(nullptr, 0xFFFFFFFFu), std::bad_alloc);
}

TEST(ComStrings, CompareIsOrdinalAndCaseSensitive) {
    BSTR complete = SysAllocString(u"complete");
    BSTR upper = SysAllocString(u"Complete");
    BSTR loading = SysAllocString(u"loading");
    BSTR empty = SysAllocString(u"");
    EXPECT_EQ(VarBstrCmp(complete, complete, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    EXPECT_NE(VarBstrCmp(complete, upper, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    EXPECT_EQ(VarBstrCmp(complete, loading, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
    EXPECT_EQ(VarBstrCmp(loading, complete, LOCALE_USER_DEFAULT, 0), VARCMP_GT);
    EXPECT_EQ(VarBstrCmp(nullptr, empty, LOCALE_USER_DEFAULT, 0), VARCMP_EQ);
    EXPECT_EQ(VarBstrCmp(nullptr, complete, LOCALE_USER_DEFAULT, 0), VARCMP_LT);
    for (BSTR s : {complete, upper, loading, empty})
        SysFreeString(s);
}

TEST(ComVariants, ClearReleasesWhatTheVariantHolds) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"http://127.0.0.1/x"); // freed by the clear (leak check)
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    CountedUnknown unknown;
    unknown.AddRef();
    v.vt = VT_UNKNOWN;
    v.punkVal = &unknown;
    VariantClear(&v);
    EXPECT_EQ(unknown.refs, 1u);
    EXPECT_EQ(v.vt, VT_EMPTY);

    CountedDispatch dispatch;
    dispatch.AddRef();
    v.vt = VT_DISPATCH;
    v.pdispVal = &dispatch;
    VariantClear(&v);
    EXPECT_EQ(dispatch.refs, 1u);

    v.vt = VT_NULL;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
}
