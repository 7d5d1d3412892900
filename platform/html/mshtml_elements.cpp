// The anchor collection and the anchor elements that a document hands out.
#include "platform/html/html_document.h"
#include "platform/text/text_ascii.h"

bool NameEquals(BSTR name, std::u16string_view ascii) {
    return name && EqualsIgnoreAsciiCase(std::u16string_view(name), ascii);
}

HRESULT HtmlElementCollection::get_length(LONG* p) {
    if (!p)
        return E_POINTER;
    *p = static_cast<LONG>(m_anchors->size());
    return S_OK;
}

// The position comes as name (VT_I4), or as index when name is empty. A position outside the
// collection gives no element and S_OK, as a browser's collection answers it.
HRESULT HtmlElementCollection::item(VARIANT name, VARIANT index, IDispatch** pdisp) {
    if (!pdisp)
        return E_POINTER;
    *pdisp = nullptr;
    LONG position = 0;
    if (name.vt == VT_I4)
        position = name.lVal;
    else if (name.vt == VT_EMPTY && index.vt == VT_I4)
        position = index.lVal;
    else
        return E_INVALIDARG;
    if (position < 0 || static_cast<size_t>(position) >= m_anchors->size())
        return S_OK;
    *pdisp = new HtmlAnchorElement(m_anchors, static_cast<size_t>(position));
    return S_OK;
}

// The document keeps only href, so every other attribute reads as missing (VT_NULL).
HRESULT HtmlAnchorElement::getAttribute(BSTR strAttributeName, LONG, VARIANT* AttributeValue) {
    if (!AttributeValue)
        return E_POINTER;
    if (!strAttributeName)
        return E_INVALIDARG;
    AttributeValue->vt = VT_NULL;
    if (m_anchors->HasHref(m_index) && NameEquals(strAttributeName, u"href")) {
        // Written straight from the packed list into the string handed out.
        const size_t length = m_anchors->HrefLength(m_index);
        BSTR href = SysAllocStringLen(nullptr, static_cast<uint32_t>(length));
        m_anchors->CopyHref(m_index, href);
        AttributeValue->bstrVal = href;
        AttributeValue->vt = VT_BSTR;
    }
    return S_OK;
}

HRESULT HtmlAnchorElement::get_innerText(BSTR* p) {
    if (!p)
        return E_POINTER;
    const auto text = m_anchors->Text(m_index);
    *p = text ? SysAllocStringLen(text->data(), static_cast<uint32_t>(text->size())) : nullptr;
    return m_anchors->TextRead(m_index) ? S_OK : S_FALSE;
}
