// The document object's interfaces on a page given as bytes: identity, ready state, the anchor
// collection and its elements.
#include "platform/com_ptr.h"
#include "platform/html_document.h"
#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

CComPtr<IHTMLDocument2> Loaded(std::string_view html) {
    return CComPtr<IHTMLDocument2>::Attach(
        HtmlDocument::CreateLoaded(html, u"", u"http://127.0.0.1/lib/page.html", 0));
}

CComPtr<IHTMLElementCollection> Anchors(IHTMLDocument2* document, const char16_t* tag = u"A") {
    CComPtr<IHTMLDocument3> document3;
    document->QueryInterface(IID_IHTMLDocument3, document3.ppv());
    CComPtr<IHTMLElementCollection> collection;
    CBstr name(tag);
    EXPECT_EQ(document3->getElementsByTagName(name.get(), &collection), S_OK);
    return collection;
}

LONG Length(IHTMLElementCollection* collection) {
    LONG length = -1;
    EXPECT_EQ(collection->get_length(&length), S_OK);
    return length;
}

CComPtr<IHTMLElement> Item(IHTMLElementCollection* collection, LONG index) {
    VARIANT name, empty;
    VariantInit(&name);
    VariantInit(&empty);
    name.vt = VT_I4;
    name.lVal = index;
    CComPtr<IDispatch> dispatch;
    EXPECT_EQ(collection->item(name, empty, &dispatch), S_OK);
    CComPtr<IHTMLElement> element;
    if (dispatch)
        dispatch->QueryInterface(IID_IHTMLElement, element.ppv());
    return element;
}

std::string Attribute(IHTMLElement* element, const char16_t* name) {
    CVariant value;
    CBstr attribute(name);
    EXPECT_EQ(element->getAttribute(attribute.get(), 0, &value), S_OK);
    if (value->vt == VT_NULL)
        return "<null>";
    EXPECT_EQ(value->vt, VT_BSTR);
    return value->vt == VT_BSTR ? ToUtf8(value->bstrVal) : "<other>";
}

std::string InnerText(IHTMLElement* element) {
    CBstr text;
    EXPECT_EQ(element->get_innerText(&text), S_OK);
    return text.get() ? ToUtf8(std::u16string(text.get(), SysStringLen(text.get()))) : "<null>";
}

std::string ReadyState(IHTMLDocument2* document) {
    CBstr state;
    EXPECT_EQ(document->get_readyState(&state), S_OK);
    return ToUtf8(state.get());
}

TEST(MshtmlDocument, AllInterfacesAreOneObject) {
    CComPtr<IHTMLDocument2> document;
    ASSERT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_ALL, IID_IHTMLDocument2,
                               document.ppv()),
              S_OK);
    EXPECT_EQ(ReadyState(document.get()), "uninitialized");
    CComPtr<IUnknown> identity;
    document->QueryInterface(IID_IUnknown, identity.ppv());
    for (const IID* iid : {&IID_IDispatch, &IID_IHTMLDocument2, &IID_IHTMLDocument3,
                           &IID_IPersistMoniker, &IID_IOleObject}) {
        CComPtr<IUnknown> part;
        ASSERT_EQ(document->QueryInterface(*iid, part.ppv()), S_OK);
        CComPtr<IUnknown> back;
        part->QueryInterface(IID_IUnknown, back.ppv());
        EXPECT_EQ(back.get(), identity.get());
    }
    CComPtr<IUnknown> none;
    EXPECT_EQ(document->QueryInterface(IID_IHTMLElement, none.ppv()), E_NOINTERFACE);
    EXPECT_FALSE(none);
    // A document without a page has no anchors.
    EXPECT_EQ(Length(Anchors(document.get()).get()), 0);
}

TEST(MshtmlDocument, CollectionGivesTheAnchorsByPosition) {
    auto document =
        Loaded("<a href=p2.html>2</a><div>x</div><a name=top></a><a href=t.l6t><img></a>");
    EXPECT_EQ(ReadyState(document.get()), "complete");
    EXPECT_EQ(Length(Anchors(document.get(), u"a").get()), 3);
    EXPECT_EQ(Length(Anchors(document.get(), u"div").get()), 0);
    auto anchors = Anchors(document.get());
    ASSERT_EQ(Length(anchors.get()), 3);

    auto first = Item(anchors.get(), 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(Attribute(first.get(), u"HREF"), "http://127.0.0.1/lib/p2.html");
    EXPECT_EQ(Attribute(first.get(), u"title"), "<null>");
    EXPECT_EQ(InnerText(first.get()), "2");
    auto named = Item(anchors.get(), 1);
    EXPECT_EQ(Attribute(named.get(), u"href"), "<null>");
    EXPECT_EQ(InnerText(named.get()), "<null>");
    EXPECT_EQ(InnerText(Item(anchors.get(), 2).get()), "");

    // Out of range: no element, and no failure.
    EXPECT_FALSE(Item(anchors.get(), 3));
    EXPECT_FALSE(Item(anchors.get(), -1));
    VARIANT text, empty;
    VariantInit(&empty);
    text.vt = VT_BSTR;
    text.bstrVal = nullptr;
    CComPtr<IDispatch> dispatch;
    EXPECT_EQ(anchors->item(text, empty, &dispatch), E_INVALIDARG);
    EXPECT_FALSE(dispatch);

    // Elements and collections stay usable after the document is gone.
    document.Release();
    anchors.Release();
    EXPECT_EQ(InnerText(first.get()), "2");
}

} // namespace
