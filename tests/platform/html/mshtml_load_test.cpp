// Documents loading served pages through the real download service, with an observer that is
// also the document's client site, the way the page loader sets them up.
#include "platform/com/com_ptr.h"
#include "platform/html/html_document.h"
#include "platform/html/mshtml.h"
#include "platform/pump/pump.h"
#include "platform/text/text.h"
#include "tests/support/PumpUntil.h"
#include "tests/support/TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>

namespace {

constexpr DWORD kPageDownloadControl = 0x6001BF80;
constexpr char kCutPage[] = "<a href=first>1</a><a href=last>2</a>";

class PageObserver : public IBindStatusCallback, public IOleClientSite, public IDispatch {
public:
    std::vector<ULONG> statuses;
    std::string cacheFile;
    bool started = false;
    bool stopped = false;
    HRESULT result = E_UNEXPECTED;
    std::string error;
    int ambientQueries = 0;
    bool removeCacheFileAtEnd = false; // as if someone emptied the temporary folder

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback)
            *ppv = static_cast<IBindStatusCallback*>(this);
        else if (riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IDispatch)
            *ppv = static_cast<IDispatch*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++m_refs; }
    ULONG Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }

    HRESULT OnStartBinding(DWORD, IBinding*) override {
        started = true;
        return S_OK;
    }
    HRESULT GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT OnLowResource(DWORD) override { return S_OK; }
    HRESULT OnProgress(ULONG, ULONG, ULONG status, LPCWSTR text) override {
        statuses.push_back(status);
        if (status == BINDSTATUS_CACHEFILENAMEAVAILABLE && text)
            cacheFile = ToUtf8(text);
        if (status == BINDSTATUS_ENDDOWNLOADDATA && removeCacheFileAtEnd)
            std::filesystem::remove(cacheFile);
        return S_OK;
    }
    HRESULT OnStopBinding(HRESULT hr, LPCWSTR reason) override {
        stopped = true;
        result = hr;
        error = reason ? ToUtf8(reason) : "";
        return S_OK;
    }
    HRESULT GetBindInfo(DWORD* grfBINDF, BINDINFO*) override {
        *grfBINDF = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_GETNEWESTVERSION;
        return S_OK;
    }
    HRESULT OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT SaveObject() override { return E_NOTIMPL; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOTIMPL; }
    HRESULT ShowObject() override { return E_NOTIMPL; }
    HRESULT OnShowWindow(BOOL) override { return E_NOTIMPL; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, ULONG, void**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPWSTR*, UINT, ULONG, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, ULONG, uint16_t, DISPPARAMS*, VARIANT* result, void*,
                   UINT*) override {
        if (id != DISPID_AMBIENT_DLCONTROL)
            return DISP_E_MEMBERNOTFOUND;
        ++ambientQueries;
        result->vt = VT_I4;
        result->lVal = static_cast<int32_t>(kPageDownloadControl);
        return S_OK;
    }

private:
    virtual ~PageObserver() = default;
    ULONG m_refs = 1;
};

std::string ReadyState(IHTMLDocument2* document) {
    CBstr state;
    document->get_readyState(&state);
    return state.get() ? ToUtf8(state.get()) : "";
}

using LoadedAnchor = std::pair<std::string, std::string>; // href, text

std::vector<LoadedAnchor> AnchorsOf(IHTMLDocument2* document) {
    CComPtr<IHTMLDocument3> document3;
    document->QueryInterface(IID_IHTMLDocument3, document3.ppv());
    CBstr tag(u"A");
    CComPtr<IHTMLElementCollection> collection;
    document3->getElementsByTagName(tag.get(), &collection);
    LONG length = 0;
    collection->get_length(&length);
    std::vector<LoadedAnchor> anchors;
    for (LONG i = 0; i < length; ++i) {
        VARIANT name, empty;
        VariantInit(&empty);
        name.vt = VT_I4;
        name.lVal = i;
        CComPtr<IDispatch> dispatch;
        collection->item(name, empty, &dispatch);
        CComPtr<IHTMLElement> element;
        dispatch->QueryInterface(IID_IHTMLElement, element.ppv());
        CVariant href;
        CBstr attribute(u"href"), text;
        element->getAttribute(attribute.get(), 0, &href);
        element->get_innerText(&text);
        anchors.push_back({href->vt == VT_BSTR ? ToUtf8(href->bstrVal) : "<null>",
                           text.get() ? ToUtf8(text.get()) : "<null>"});
    }
    return anchors;
}

class MshtmlLoad : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UrlServiceStartup());
        httplib::Server& s = m_server.server();
        s.Get("/lib/page.html", [](const httplib::Request&, httplib::Response& res) {
            // Declared by <meta> alone, which counts whatever the host's flags say.
            res.set_content("<meta charset=windows-1252><a href=library.html?page=2>2</a>"
                            "<a href='/l6file/Caf\xE9.l6t'>caf\xE9</a>",
                            "text/html");
        });
        s.Get("/latin", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<a href=x>caf\xC3\xA9</a>", "text/html; charset=windows-1252");
        });
        s.Get("/cut", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(kCutPage, "text/html");
        });
        // A page that never ends, of a type the server does not compress, so that it streams.
        s.Get("/endless", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider(
                "application/octet-stream", [](size_t, httplib::DataSink& sink) {
                    static const std::string anchors = [] {
                        std::string text;
                        while (text.size() < 16 * 1024)
                            text += "<a href=next>2</a>";
                        return text;
                    }();
                    return sink.write(anchors.data(), anchors.size()); // false once the client goes
                });
        });
        s.Get("/old", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/new/dir/page.html");
        });
        s.Get("/new/dir/page.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<a href=next.html>3</a>", "text/html");
        });
        s.Get("/slow", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/html", [this](size_t, httplib::DataSink& sink) {
                const std::string head = "<a href=early>1</a>" + std::string(4096, ' ');
                sink.write(head.data(), head.size());
                std::unique_lock lock(m_mutex);
                m_released.wait_for(lock, std::chrono::seconds(30), [this] { return m_bRelease; });
                sink.done();
                return true;
            });
        });
        m_server.Start();
    }
    void TearDown() override {
        {
            std::lock_guard lock(m_mutex);
            m_bRelease = true;
        }
        m_released.notify_all();
        UrlServiceShutdown();
    }

    // Sets up observer, moniker, bind context and document as the page loader does, and
    // starts the load; into the given document instead of a new one, if any.
    void Load(const std::u16string& url, HtmlDocument* document = nullptr) {
        m_document.Release();
        m_context.Release();
        m_moniker.Release();
        m_observer.Release();
        *&m_observer = new PageObserver;
        ASSERT_EQ(CreateURLMoniker(nullptr, url.c_str(), &m_moniker), S_OK);
        ASSERT_EQ(CreateAsyncBindCtx(0, m_observer.get(), nullptr, &m_context), S_OK);
        if (document)
            m_document = CComPtr<IHTMLDocument2>::Attach(document);
        else
            ASSERT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_ALL, IID_IHTMLDocument2,
                                       m_document.ppv()),
                      S_OK);
        CComPtr<IOleObject> object;
        CComPtr<IPersistMoniker> persist;
        m_document->QueryInterface(IID_IOleObject, object.ppv());
        m_document->QueryInterface(IID_IPersistMoniker, persist.ppv());
        object->SetClientSite(static_cast<IOleClientSite*>(m_observer.get()));
        m_hrLoad = persist->Load(0, m_moniker.get(), m_context.get(), 0);
    }
    bool LoadToCompletion(const std::u16string& url, HtmlDocument* document = nullptr) {
        Load(url, document);
        return SUCCEEDED(m_hrLoad) &&
               PumpUntil([this] { return ReadyState(m_document.get()) == "complete"; });
    }

    TestServer m_server;
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_bRelease = false;

    CComPtr<PageObserver> m_observer;
    CComPtr<IMoniker> m_moniker;
    CComPtr<IBindCtx> m_context;
    CComPtr<IHTMLDocument2> m_document;
    HRESULT m_hrLoad = E_UNEXPECTED;
};

TEST(MshtmlForwarder, PassesNotificationsOnAndAddsResynchronize) {
    for (const DWORD dlcontrol : {DWORD{0}, DLCTL_RESYNCHRONIZE}) {
        auto observer = CComPtr<PageObserver>::Attach(new PageObserver);
        auto forwarder = CComPtr<BindForwarder>::Attach(new BindForwarder(nullptr, dlcontrol));
        observer->AddRef();
        forwarder->SetPrevious(observer.get());
        DWORD flags = 0;
        BINDINFO info{};
        forwarder->GetBindInfo(&flags, &info);
        forwarder->OnStartBinding(0, nullptr);
        forwarder->OnProgress(1, 2, BINDSTATUS_CACHEFILENAMEAVAILABLE, u"/tmp/x");
        forwarder->OnStopBinding(INET_E_DOWNLOAD_FAILURE, nullptr);
        const DWORD own = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_GETNEWESTVERSION;
        EXPECT_EQ(flags, dlcontrol ? own | BINDF_RESYNCHRONIZE : own);
        EXPECT_TRUE(observer->started);
        EXPECT_EQ(observer->cacheFile, "/tmp/x");
        EXPECT_EQ(observer->result, INET_E_DOWNLOAD_FAILURE);
    }
}

TEST_F(MshtmlLoad, ServedPageIsObservedParsedAndDropped) {
    Load(m_server.Url16("/lib/page.html"));
    ASSERT_EQ(m_hrLoad, S_OK);
    EXPECT_EQ(ReadyState(m_document.get()), "loading");
    EXPECT_TRUE(m_observer->started);
    EXPECT_EQ(m_observer->ambientQueries, 1);
    ASSERT_TRUE(PumpUntil([this] { return ReadyState(m_document.get()) == "complete"; }));

    // The observer saw the page's transfer as if it had bound it alone.
    EXPECT_TRUE(m_observer->stopped);
    EXPECT_EQ(m_observer->result, S_OK);
    const auto& statuses = m_observer->statuses;
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), BINDSTATUS_CACHEFILENAMEAVAILABLE),
              statuses.end());
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), BINDSTATUS_ENDDOWNLOADDATA),
              statuses.end());

    const std::string base = m_server.Url("/");
    EXPECT_EQ(AnchorsOf(m_document.get()),
              (std::vector<LoadedAnchor>{{base + "lib/library.html?page=2", "2"},
                                         {base + "l6file/Caf%C3%A9.l6t", "caf\xC3\xA9"}}));
    // The document keeps what it needs; its page's cache file is gone.
    ASSERT_FALSE(m_observer->cacheFile.empty());
    EXPECT_FALSE(std::filesystem::exists(m_observer->cacheFile));

    // The HTTP charset decides over the bytes' own look.
    ASSERT_TRUE(LoadToCompletion(m_server.Url16("/latin")));
    EXPECT_EQ(AnchorsOf(m_document.get()),
              (std::vector<LoadedAnchor>{{base + "x", "caf\xC3\x83\xC2\xA9"}}));
}

TEST_F(MshtmlLoad, APageLongerThanTheDocumentReadsIsToldCut) {
    const std::string page = kCutPage;
    for (const size_t limit : {page.size(), page.find("<a href=last")}) {
        HtmlParseLimits limits;
        limits.maxPageBytes = limit;
        ASSERT_TRUE(LoadToCompletion(m_server.Url16("/cut"), new HtmlDocument(limits)));
        CComPtr<IHTMLDocumentLoadInfo> info;
        ASSERT_EQ(m_document->QueryInterface(IID_IHTMLDocumentLoadInfo, info.ppv()), S_OK);
        const bool cut = limit < page.size();
        EXPECT_EQ(info->WasPageCut(), cut) << limit;
        EXPECT_EQ(AnchorsOf(m_document.get()).size(), cut ? 1u : 2u);
    }

    // The transfer itself stops once past the limit: a page without end loads, cut.
    HtmlParseLimits limits;
    limits.maxPageBytes = 64 * 1024;
    ASSERT_TRUE(LoadToCompletion(m_server.Url16("/endless"), new HtmlDocument(limits)));
    EXPECT_EQ(m_observer->result, S_OK);
    CComPtr<IHTMLDocumentLoadInfo> info;
    ASSERT_EQ(m_document->QueryInterface(IID_IHTMLDocumentLoadInfo, info.ppv()), S_OK);
    EXPECT_TRUE(info->WasPageCut());
    EXPECT_GE(AnchorsOf(m_document.get()).size(), limits.maxPageBytes / 18) << "each one within";
}

TEST_F(MshtmlLoad, RelativeLinksFollowTheRedirect) {
    ASSERT_TRUE(LoadToCompletion(m_server.Url16("/old")));
    EXPECT_EQ(AnchorsOf(m_document.get()),
              (std::vector<LoadedAnchor>{{m_server.Url("/new/dir/next.html"), "3"}}));
}

TEST_F(MshtmlLoad, FailedLoadsGiveACompleteEmptyDocument) {
    ASSERT_TRUE(LoadToCompletion(m_server.Url16("/missing.html")));
    EXPECT_EQ(m_observer->result, INET_E_RESOURCE_NOT_FOUND);
    EXPECT_TRUE(AnchorsOf(m_document.get()).empty());

    TestServer closed;
    closed.Start();
    const std::u16string refused = closed.Url16("/page.html");
    closed.Stop();
    ASSERT_TRUE(LoadToCompletion(refused));
    EXPECT_EQ(m_observer->result, INET_E_CANNOT_CONNECT);
    EXPECT_TRUE(AnchorsOf(m_document.get()).empty());

    // A page gone from the temporary folder before the document reads it: the folder failed,
    // and the observer learns it with the system's reason.
    Load(m_server.Url16("/lib/page.html"));
    m_observer->removeCacheFileAtEnd = true;
    ASSERT_TRUE(PumpUntil([this] { return ReadyState(m_document.get()) == "complete"; }));
    EXPECT_EQ(m_observer->result, STG_E_WRITEFAULT);
    EXPECT_EQ(m_observer->error, "No such file or directory");
    EXPECT_TRUE(AnchorsOf(m_document.get()).empty());

    // A bind that fails at once: Load says so and the document is complete and empty.
    UrlServiceShutdown();
    Load(m_server.Url16("/lib/page.html"));
    EXPECT_TRUE(FAILED(m_hrLoad));
    EXPECT_EQ(ReadyState(m_document.get()), "complete");
    EXPECT_TRUE(AnchorsOf(m_document.get()).empty());
}

TEST_F(MshtmlLoad, ReleasingTheDocumentMidLoadAbortsIt) {
    Load(m_server.Url16("/slow"));
    ASSERT_EQ(m_hrLoad, S_OK);
    ASSERT_TRUE(PumpUntil([this] { return !m_observer->cacheFile.empty(); }));
    const std::string cacheFile = m_observer->cacheFile;

    // The user cancels: the loader lets everything go while the body is still coming.
    m_document.Release();
    m_context.Release();
    m_moniker.Release();
    ASSERT_TRUE(PumpUntil([this] { return m_observer->stopped; }));
    EXPECT_EQ(m_observer->result, E_ABORT);
    EXPECT_FALSE(std::filesystem::exists(cacheFile));

    // The pump runs on with nothing of the document left to reach.
    int passes = 0;
    EXPECT_TRUE(PumpUntil([&] { return ++passes > 200; }));
}

} // namespace
