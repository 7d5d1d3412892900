// The HTML document engine: a document object that loads itself from a URL moniker and
// offers its anchors, their resolved addresses and their rendered text.
// It parses with gumbo, resolves addresses with libcurl's URL API and loads through the
// download service (platform/net); the runtime creates it for the engine's page loader.
#pragma once

#include "platform/com/com.h"
#include "platform/html/html_page_cut.h"
#include "platform/net/urlmon.h"

inline constexpr CLSID CLSID_HTMLDocument = {
    0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};
inline constexpr IID IID_IHTMLDocument2 = {
    0x332C4425, 0x26CB, 0x11D0, {0xB4, 0x83, 0x00, 0xC0, 0x4F, 0xD9, 0x01, 0x19}};
inline constexpr IID IID_IHTMLDocument3 = {
    0x3050F485, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
inline constexpr IID IID_IHTMLElement = {
    0x3050F1FF, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
inline constexpr IID IID_IHTMLElementCollection = {
    0x3050F21F, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
inline constexpr IID IID_IPersistMoniker = {
    0x79EAC9C9, 0xBAF9, 0x11CE, {0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B}};
inline constexpr IID IID_IOleObject = {
    0x00000112, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IOleClientSite = {
    0x00000118, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// The program's own query on a document: how its page was read.
inline constexpr IID IID_IHTMLDocumentLoadInfo = {
    0x7F5C2671, 0x8853, 0x4BBF, {0xAA, 0xA1, 0xD6, 0xD8, 0x70, 0xC5, 0x7D, 0xCE}};

constexpr DISPID DISPID_AMBIENT_DLCONTROL = -5512;

constexpr DWORD DLCTL_NO_SCRIPTS = 0x80;
constexpr DWORD DLCTL_NO_JAVA = 0x100;
constexpr DWORD DLCTL_NO_RUNACTIVEXCTLS = 0x200;
constexpr DWORD DLCTL_NO_DLACTIVEXCTLS = 0x400;
constexpr DWORD DLCTL_DOWNLOADONLY = 0x800;
constexpr DWORD DLCTL_NO_FRAMEDOWNLOAD = 0x1000;
constexpr DWORD DLCTL_RESYNCHRONIZE = 0x2000;
constexpr DWORD DLCTL_NO_BEHAVIORS = 0x8000;
// The document honours <meta> declarations even so: it reads them before decoding anything,
// so they cost no second load, and a page read in the wrong encoding loses links.
constexpr DWORD DLCTL_NO_METACHARSET = 0x10000;
constexpr DWORD DLCTL_NO_CLIENTPULL = 0x20000000;
constexpr DWORD DLCTL_SILENT = 0x40000000;

struct IOleContainer;
struct IOleClientSite : IUnknown {
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    virtual HRESULT GetContainer(IOleContainer** ppContainer) = 0;
    virtual HRESULT ShowObject() = 0;
    virtual HRESULT OnShowWindow(BOOL fShow) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;
};

struct IOleObject : IUnknown {
    virtual HRESULT SetClientSite(IOleClientSite* pClientSite) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** ppClientSite) = 0;
};

struct IPersistMoniker : IUnknown {
    virtual HRESULT Load(BOOL fFullyAvailable, IMoniker* pimkName, IBindCtx* pibc,
                         DWORD grfMode) = 0;
};

struct IHTMLElement : IDispatch {
    // Flags 0: the attribute whatever its case; "href" comes back resolved against the
    // document's base as VT_BSTR. A missing attribute gives VT_NULL.
    virtual HRESULT getAttribute(BSTR strAttributeName, LONG lFlags, VARIANT* AttributeValue) = 0;
    // No string (null) for an element without child nodes. S_FALSE and no string for one whose
    // text the document did not read (its page has more anchor text than a document keeps):
    // such a text is neither empty nor anything else.
    virtual HRESULT get_innerText(BSTR* p) = 0;
};

struct IHTMLElementCollection : IDispatch {
    virtual HRESULT get_length(LONG* p) = 0;
    // name = VT_I4 index, index = VT_EMPTY: the element at that position.
    virtual HRESULT item(VARIANT name, VARIANT index, IDispatch** pdisp) = 0;
};

struct IHTMLDocument2 : IDispatch {
    // "loading" while the load runs, "complete" when it is over, successful or not.
    virtual HRESULT get_readyState(BSTR* p) = 0;
};

struct IHTMLDocument3 : IDispatch {
    virtual HRESULT getElementsByTagName(BSTR v, IHTMLElementCollection** pelColl) = 0;
};

// How the document read its page, once the load is complete.
struct IHTMLDocumentLoadInfo : IUnknown {
    // Whether the document holds every link of its page, and if not, which limit left some
    // out.
    virtual PageCut GetPageCut() = 0;
    bool WasPageCut() { return GetPageCut() != PageCut::None; }
};

// The class factory of CLSID_HTMLDocument (used by CoCreateInstance).
HRESULT CreateHTMLDocument(REFIID riid, void** ppv);
// How much of a page a new document reads (16 MiB): a page fetched ahead of the walk is cut
// there too, from its first byte.
uint64_t GetPageReadLimit();
