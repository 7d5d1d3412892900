// The document object's interfaces on a page given as bytes: identity, ready state, the anchor
// collection and its elements.
#include "platform/com/com_ptr.h"
#include "platform/html/html_document.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

namespace {

CComPtr<IHTMLDocument2> Loaded(std::string_view html, std::u16string_view contentType = u"") {
    return CComPtr<IHTMLDocument2>::Attach(
        HtmlDocument::CreateLoaded(html, contentType, u"http://127.0.0.1/lib/page.html"));
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

TEST(MshtmlDocument, PagesInLegacyEncodingsLinkAsBrowsersDo) {
    // A link's text and address hold the same word, and its query a euro sign too. The
    // address's path is sent in UTF-8, its query in the page's own encoding, where a character
    // without a form there goes as "&#N;".
    struct Page {
        std::string declaration; // markup before the link
        std::u16string contentType;
        std::string word;  // in the page's encoding
        std::string text;  // the word in UTF-8
        std::string path;  // the word as the path sends it
        std::string query; // "n=<word>&e=<euro sign>" as the query sends it
    };
    const Page pages[] = {
        {"<meta charset=' SJIS'>", u"", "\x89\xB9\x90\x46", "\xE9\x9F\xB3\xE8\x89\xB2",
         "%E9%9F%B3%E8%89%B2", "n=%89%B9%90F&e=%26%238364%3B"},
        {"", u"text/html; charset=ks_c_5601-1987", "\xC0\xBD\xBB\xF6", "\xEC\x9D\x8C\xEC\x83\x89",
         "%EC%9D%8C%EC%83%89", "n=%C0%BD%BB%F6&e=%A2%E6"},
        // U+00A2 is one of the characters that only gb18030's four-byte forms have.
        {"<meta http-equiv=content-type content='text/html; charset=GB18030'>", u"",
         "\xD2\xF4\x81\x30\x84\x34", "\xE9\x9F\xB3\xC2\xA2", "%E9%9F%B3%C2%A2",
         "n=%D2%F4%810%844&e=%A2%E3"},
        {"<meta charset=cp1251>", u"", "\xF2\xE5\xEC\xE1\xF0",
         "\xD1\x82\xD0\xB5\xD0\xBC\xD0\xB1\xD1\x80", "%D1%82%D0%B5%D0%BC%D0%B1%D1%80",
         "n=%F2%E5%EC%E1%F0&e=%88"},
        {"", u"text/html; charset=latin2", "\xAE\x6C\xFD", "\xC5\xBDl\xC3\xBD", "%C5%BDl%C3%BD",
         "n=%AEl%FD&e=%26%238364%3B"},
    };
    for (const Page& page : pages) {
        auto document = Loaded(page.declaration + "<a href='/t/" + page.word +
                                   ".l6t?n=" + page.word + "&amp;e=&#x20AC;'>" + page.word + "</a>",
                               page.contentType);
        auto anchor = Item(Anchors(document.get()).get(), 0);
        ASSERT_TRUE(anchor) << page.path;
        EXPECT_EQ(InnerText(anchor.get()), page.text) << page.path;
        EXPECT_EQ(Attribute(anchor.get(), u"href"),
                  "http://127.0.0.1/t/" + page.path + ".l6t?" + page.query);
    }
}

} // namespace
