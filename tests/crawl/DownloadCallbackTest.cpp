// The observers: what they log, record and answer, and their one identity.
#include "crawl/DownloadCallback.h"
#include "platform/clock.h"
#include "platform/com/com_ptr.h"
#include "ui/ProgressDialog.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class FakeBinding : public IBinding {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT Abort() override { return S_OK; }
    ULONG refs = 1;
};

class ObserverTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetTickCountForTesting([this] { return m_tick; });
        m_progress = std::make_unique<CProgressDialog>(nullptr);
    }
    void TearDown() override { SetTickCountForTesting({}); }

    CComPtr<CDownloadCallback> MakeObserver() {
        return CComPtr<CDownloadCallback>::Attach(new CDownloadCallback(m_progress.get()));
    }

    uint32_t m_tick = 1000;
    std::unique_ptr<CProgressDialog> m_progress;
};

TEST_F(ObserverTest, StartsEmptyWithTheCreationTick) {
    auto observer = MakeObserver();
    EXPECT_EQ(observer->m_cRef, 1u);
    EXPECT_EQ(observer->m_pBinding, nullptr);
    EXPECT_EQ(observer->m_bDone, 0);
    EXPECT_EQ(observer->m_hrResult, E_UNEXPECTED);
    EXPECT_EQ(observer->m_dwLastProgress, 1000u);
    EXPECT_EQ(observer->m_szCacheFile[0], 0);
    EXPECT_EQ(m_progress->GetLogText(), u""); // construction reports nothing
}

TEST_F(ObserverTest, ProgressMovesTheBarRecordsTheCacheFileAndStampsAfterLogging) {
    auto observer = MakeObserver();
    // The clock tells whether the line is in the log when it is read: a stamp taken before
    // the logging (which can take a repaint's time) would read 1.
    SetTickCountForTesting([this] {
        return m_progress->GetLogText().find(u"OnProgress 14") == std::u16string::npos ? 1u : 5000u;
    });
    observer->OnProgress(10, 40, BINDSTATUS_CACHEFILENAMEAVAILABLE, u"/cache/Foo[1].l6t");
    EXPECT_EQ(std::u16string(observer->m_szCacheFile), u"/cache/Foo[1].l6t");
    EXPECT_EQ(m_progress->GetProgressMax(), 40u);
    EXPECT_EQ(m_progress->GetProgressPos(), 10u);
    EXPECT_EQ(observer->m_dwLastProgress, 5000u);
    SetTickCountForTesting([this] { return m_tick; });

    // A later name replaces the first; other codes leave it alone.
    observer->OnProgress(0, 0, BINDSTATUS_CACHEFILENAMEAVAILABLE, u"/cache/Bar[1].l6t");
    observer->OnProgress(0, 0, BINDSTATUS_DOWNLOADINGDATA, u"/elsewhere");
    EXPECT_EQ(std::u16string(observer->m_szCacheFile), u"/cache/Bar[1].l6t");
    EXPECT_EQ(m_progress->GetProgressMax(), 0u);

    // A null text prints as empty, leaving the space after the code.
    observer->OnProgress(1, 2, BINDSTATUS_SENDINGREQUEST, nullptr);
    EXPECT_EQ(m_progress->GetLogText(), u"OnProgress 14 /cache/Foo[1].l6t\r\n"
                                        u"OnProgress 14 /cache/Bar[1].l6t\r\n"
                                        u"OnProgress 5 /elsewhere\r\n"
                                        u"OnProgress 11 ");
}

TEST_F(ObserverTest, CacheFileNameIsCutTo259Units) {
    auto observer = MakeObserver();
    std::u16string name(300, u'x');
    name[258] = u'A';
    name[259] = u'B';
    observer->OnProgress(0, 0, BINDSTATUS_CACHEFILENAMEAVAILABLE, name.c_str());
    std::u16string kept(observer->m_szCacheFile);
    EXPECT_EQ(kept.size(), 259u);
    EXPECT_EQ(kept.back(), u'A');
}

TEST_F(ObserverTest, LogsEveryNotificationAndRecordsTheStop) {
    auto observer = MakeObserver();
    LONG priority = 0;
    observer->GetPriority(&priority);
    EXPECT_EQ(priority, 1);
    observer->OnLowResource(0);
    STGMEDIUM medium{TYMED_ISTREAM, nullptr, nullptr};
    observer->OnDataAvailable(0x7, 10, nullptr, &medium);
    observer->OnDataAvailable(0x1, 10, nullptr, nullptr);
    observer->OnObjectAvailable(IID_IUnknown, nullptr);
    EXPECT_EQ(observer->OnStopBinding(INET_E_RESOURCE_NOT_FOUND, u"HTTP 404 Not Found"), S_OK);
    EXPECT_EQ(observer->m_hrResult, INET_E_RESOURCE_NOT_FOUND);
    EXPECT_EQ(observer->m_bDone, 1);
    // A failed transfer's line says why.
    EXPECT_EQ(m_progress->GetLogText(), u"GetPriority\r\nOnLowResource\r\n"
                                        u"OnDataAvailable grfBSCF=0x00000007 tymed=4\r\n"
                                        u"OnDataAvailable grfBSCF=0x00000001 tymed=-432\r\n"
                                        u"OnObjectAvailable\r\nOnStopBinding: HTTP 404 Not Found");
}

TEST_F(ObserverTest, GetBindInfoZeroesTheCallersStructureButItsSize) {
    auto observer = MakeObserver();
    BINDINFO info;
    std::memset(static_cast<void*>(&info), 0xAB, sizeof info);
    info.cbSize = sizeof info;
    DWORD flags = 0;
    observer->GetBindInfo(&flags, &info);
    EXPECT_EQ(flags, 19u);
    EXPECT_EQ(info.cbSize, sizeof info);
    EXPECT_EQ(info.grfBindInfo, 0u);
    EXPECT_EQ(info.dwReserved, 0u);

    // A caller claiming more than the structure never gets memory beyond it cleared.
    struct {
        BINDINFO info;
        uint32_t guard;
    } padded;
    padded.guard = 0x12345678;
    padded.info.cbSize = sizeof padded + 64;
    observer->GetBindInfo(&flags, &padded.info);
    EXPECT_EQ(padded.guard, 0x12345678u);
    EXPECT_EQ(padded.info.cbSize, sizeof padded + 64);
}

TEST_F(ObserverTest, KeepsOneReferenceOnTheNewestBinding) {
    FakeBinding first, second;
    {
        auto observer = MakeObserver();
        observer->OnStartBinding(0, &first);
        EXPECT_EQ(first.refs, 2u);
        observer->OnStartBinding(0, &first);
        EXPECT_EQ(first.refs, 2u);
        observer->OnStartBinding(0, &second);
        EXPECT_EQ(first.refs, 1u);
        EXPECT_EQ(second.refs, 2u);
        EXPECT_EQ(observer->m_pBinding, &second);
    }
    EXPECT_EQ(second.refs, 1u); // released with the observer
}

TEST_F(ObserverTest, TheObserverHasOneIdentity) {
    auto plain = MakeObserver();
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(plain->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(plain->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IBindStatusCallback*>(plain.get()));
    plain->Release();

    auto page = CComPtr<CPageDownloadCallback>::Attach(new CPageDownloadCallback(m_progress.get()));
    IOleClientSite* site = page.get();
    void* unknown = nullptr;
    ASSERT_EQ(site->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<IBindStatusCallback*>(page.get()));
    void* dispatch = nullptr;
    ASSERT_EQ(site->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    EXPECT_EQ(dispatch, static_cast<IDispatch*>(page.get()));
    // Three references added through three interfaces count on one object.
    EXPECT_EQ(page->m_cRef, 3u);
    static_cast<IUnknown*>(unknown)->Release();
    static_cast<IDispatch*>(dispatch)->Release();
    EXPECT_EQ(site->AddRef(), 2u);
    EXPECT_EQ(site->Release(), 1u);
    EXPECT_EQ(site->SaveObject(), E_NOTIMPL);
}

TEST_F(ObserverTest, PageObserverAnswersOnlyTheDownloadControlAmbient) {
    auto page = CComPtr<CPageDownloadCallback>::Attach(new CPageDownloadCallback(m_progress.get()));
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(page->Invoke(DISPID_AMBIENT_DLCONTROL, IID_IUnknown, 0, 0, nullptr, &result, nullptr,
                           nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(static_cast<uint32_t>(result.lVal), 0x6001BF80u);
    VariantInit(&result);
    EXPECT_EQ(page->Invoke(-5513, IID_IUnknown, 0, 0, nullptr, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(ObserverTest, NotificationsAfterTheWindowIsGoneAreHarmless) {
    auto observer = MakeObserver();
    m_progress.reset();
    m_tick = 7000;
    observer->OnProgress(3, 4, BINDSTATUS_CACHEFILENAMEAVAILABLE, u"/cache/late[1].l6t");
    observer->OnStopBinding(E_ABORT, nullptr);
    observer->OnDataAvailable(0, 0, nullptr, nullptr);
    EXPECT_EQ(observer->m_bDone, 1);
    EXPECT_EQ(observer->m_hrResult, E_ABORT);
    EXPECT_EQ(observer->m_dwLastProgress, 7000u);
    EXPECT_EQ(std::u16string(observer->m_szCacheFile), u"/cache/late[1].l6t");
}

} // namespace
