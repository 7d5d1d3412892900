// The download service against a local server: notification order, cache files and their
// names, and failures.
#include "tests/platform/net/urlmon_download_fixture.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace {

using namespace download_test;

// An https server on 127.0.0.1 whose certificate it made itself, so that no one trusts it.
class SelfSignedServer {
public:
    SelfSignedServer() {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_pubkey(cert, key);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_sign(cert, key, EVP_sha256());
        m_server = std::make_unique<httplib::SSLServer>(cert, key); // takes its own references
        X509_free(cert);
        EVP_PKEY_free(key);
        m_server->Get("/.*", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("tone", "application/octet-stream");
        });
        m_port = m_server->bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server->listen_after_bind(); });
        while (!m_server->is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~SelfSignedServer() {
        m_server->stop();
        m_thread.join();
    }
    std::u16string Url16(const std::string& path) const {
        return FromUtf8("https://127.0.0.1:" + std::to_string(m_port) + path);
    }

private:
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
};

TEST_F(DownloadTest, SmallBodyArrivesInOrderThroughDispatchOnly) {
    HRESULT hr = S_OK;
    Download d = Start("/files/Tone.l6t", &hr);
    EXPECT_EQ(hr, MK_S_ASYNCHRONOUS);
    ASSERT_EQ(d->events.size(), 1u) << "only OnStartBinding before BindToStorage returns";
    ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); }));

    std::string url = m_server.Url("/files/Tone.l6t");
    EXPECT_EQ(d->Statuses(), (std::vector<ULONG>{1, 2, 11, 13, 4, 14, 5, 6}));
    EXPECT_EQ(d->Find(1)->text, "127.0.0.1");
    EXPECT_EQ(d->Find(2)->text, "127.0.0.1");
    EXPECT_EQ(d->Find(13)->text, "audio/x-l6t");
    EXPECT_EQ(d->Find(4)->text, url);
    EXPECT_EQ(d->Find(6)->text, url);
    EXPECT_EQ(d->Find(5)->progress, 10u);
    EXPECT_EQ(d->Find(5)->progressMax, 10u);
    const Notification& data = d->events[d->events.size() - 2];
    EXPECT_EQ(data.kind, Notification::Data);
    EXPECT_EQ(data.flags,
              BSCF_FIRSTDATANOTIFICATION | BSCF_LASTDATANOTIFICATION | BSCF_DATAFULLYAVAILABLE);
    EXPECT_EQ(data.tymed, TYMED_ISTREAM);
    EXPECT_EQ(d->Result(), S_OK);
    for (const Notification& n : d->events)
        EXPECT_FALSE(n.outsideDispatch);

    EXPECT_EQ(d->CacheFile(), UrlCacheFolder() + "/Tone[1].l6t");
    EXPECT_EQ(ReadFile(d->CacheFile()), "tone-bytes");
    urlmon::Ref<IBindingHttpInfo> info = HttpInfo(d->binding);
    ASSERT_TRUE(info);
    EXPECT_EQ(ToUtf8(info->GetContentType()), "audio/x-l6t; charset=x");
    EXPECT_EQ(ToUtf8(info->GetFinalUrl()), url);
}

TEST_F(DownloadTest, ProgressRisesToTheLengthAndNeverStallsATrickle) {
    Download big = Start("/slices/Big.l6t");
    Follow(*big.get());
    ASSERT_TRUE(PumpUntil([&] { return big->Stopped(); }));
    std::vector<const Notification*> progress;
    for (const Notification& n : big->events) {
        if (n.status == BINDSTATUS_DOWNLOADINGDATA && n.kind == Notification::Progress)
            progress.push_back(&n);
    }
    ASSERT_GE(progress.size(), 8u);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GT(progress[i]->progress, progress[i - 1]->progress);
    for (const Notification* n : progress)
        EXPECT_EQ(n->progressMax, kSliced);
    EXPECT_EQ(progress.back()->progress, kSliced);
    EXPECT_EQ(fs::file_size(big->CacheFile()), kSliced);

    // Without a length, the maximum is what has arrived so far.
    Download trickle = Start("/trickle");
    Follow(*trickle.get());
    ASSERT_TRUE(PumpUntil([&] { return trickle->Stopped(); }));
    EXPECT_EQ(trickle->Result(), S_OK);
    ULONG last = 0;
    for (const Notification& n : trickle->events) {
        if (n.status == BINDSTATUS_DOWNLOADINGDATA && n.kind == Notification::Progress) {
            EXPECT_EQ(n.progress, n.progressMax);
            last = n.progress;
        }
    }
    EXPECT_EQ(last, 500u);
    EXPECT_EQ(trickle->CacheFile(), UrlCacheFolder() + "/trickle[1]");
}

TEST_F(DownloadTest, CacheFilesAreNamedLikeTheDownloadAndNeverEscapeTheFolder) {
    struct Case {
        std::string path, name;
    } cases[] = {
        {"/files/Caf%C3%A9.l6t", "Caf%C3%A9[1].l6t"},
        {"/named?cd=" + Escaped("attachment; filename=\"Plain Name.l6t\""), "Plain Name[1].l6t"},
        {"/named?cd=" + Escaped("attachment; filename*=UTF-8''Caf%C3%A9.l6t"), "Caf%C3%A9[2].l6t"},
        {"/named?cd=" + Escaped("attachment; filename=\"Caf%C3%A9.l6t"), "named[1]"},
        {"/named?cd=" + Escaped("attachment; filename=\"..\""), "download[1]"},
        {"/named?cd=" + Escaped("attachment; filename=\"../../x\""), ".._.[1]._x"},
        {"/named?cd=" + Escaped("attachment; filename=\"a/b\\\\c\x01\x7f\""), "a_b_c__[1]"},
    };
    for (const Case& c : cases) {
        Download d = Run(c.path);
        EXPECT_EQ(d->CacheFile(), UrlCacheFolder() + "/" + c.name) << c.path;
    }

    Download longName =
        Run("/named?cd=" + Escaped("attachment; filename=\"" + std::string(400, 'n') + ".l6t\""));
    fs::path file = longName->CacheFile();
    EXPECT_EQ(file.parent_path(), UrlCacheFolder());
    EXPECT_LE(FromUtf8(file.string()).size(), 259u);
    EXPECT_LE(file.filename().string().size(), 255u);
    EXPECT_TRUE(file.filename().string().ends_with("n[1].l6t"));
    EXPECT_EQ(ReadFile(file), "named");
}

TEST_F(DownloadTest, DeletingACacheEntryRemovesEveryFileOfTheUrlAndFreesItsNumbers) {
    Download first = Run("/files/Tone.l6t");
    Download second = Run("/files/Tone.l6t");
    Download other = Run("/named?cd=" + Escaped("attachment; filename=Tone.l6t"));
    EXPECT_TRUE(fs::exists(second->CacheFile()));
    EXPECT_EQ(other->CacheFile(), UrlCacheFolder() + "/Tone[3].l6t");

    EXPECT_TRUE(DeleteUrlCacheEntry(m_server.Url16("/files/Tone.l6t").c_str()));
    EXPECT_FALSE(fs::exists(first->CacheFile()));
    EXPECT_FALSE(fs::exists(second->CacheFile()));
    EXPECT_TRUE(fs::exists(other->CacheFile()));
    EXPECT_FALSE(DeleteUrlCacheEntry(m_server.Url16("/files/Tone.l6t").c_str()));
    EXPECT_FALSE(DeleteUrlCacheEntry(u"http://127.0.0.1/never"));

    EXPECT_EQ(Run("/files/Tone.l6t")->CacheFile(), UrlCacheFolder() + "/Tone[1].l6t");
}

TEST_F(DownloadTest, FailuresStopWithTheirCodeAndReasonAndLeaveNothingInTheCache) {
    TestServer closed;
    closed.Start();
    std::u16string refused = closed.Url16("/x.l6t");
    closed.Stop();
    // https to a server that speaks plain http.
    std::u16string tls = u"https" + m_server.Url16("/files/x.l6t").substr(4);
    SelfSignedServer selfSigned;
    constexpr char kOnlyWeb[] = "only http and https addresses can be crawled";
    struct Case {
        std::u16string url;
        HRESULT hr;
        std::string reason;
    } cases[] = {
        {m_server.Url16("/status/404"), INET_E_RESOURCE_NOT_FOUND, "HTTP 404 Not Found"},
        {m_server.Url16("/status/500"), INET_E_DOWNLOAD_FAILURE, "HTTP 500 Internal Server Error"},
        {m_server.Url16("/status/418"), INET_E_DOWNLOAD_FAILURE, "HTTP 418 I'm a teapot"},
        {refused, INET_E_CANNOT_CONNECT, "connection refused"},
        {tls, INET_E_DOWNLOAD_FAILURE, "the secure connection failed"},
        {selfSigned.Url16("/x.l6t"), INET_E_DOWNLOAD_FAILURE,
         "the server's certificate is not trusted: it is self-signed"},
        {m_server.Url16("/loop"), INET_E_DOWNLOAD_FAILURE, "too many redirects"},
        {m_server.Url16("/redirect?to=file:///etc/passwd"), INET_E_UNKNOWN_PROTOCOL, kOnlyWeb},
        {u"file:///etc/passwd", INET_E_UNKNOWN_PROTOCOL, kOnlyWeb},
        {u"ftp://127.0.0.1/x", INET_E_UNKNOWN_PROTOCOL, kOnlyWeb},
        {u"no-scheme/x.l6t", INET_E_INVALID_URL, "the address is not valid"},
    };
    for (const Case& c : cases) {
        Download d = Download::Adopt(StartDownload(c.url));
        ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); })) << ToUtf8(c.url);
        EXPECT_EQ(d->Result(), c.hr) << ToUtf8(c.url);
        EXPECT_EQ(d->Reason(), c.reason) << ToUtf8(c.url);
        EXPECT_EQ(d->Find(BINDSTATUS_CACHEFILENAMEAVAILABLE), nullptr) << ToUtf8(c.url);
        EXPECT_TRUE(CacheIsEmpty()) << ToUtf8(c.url);
    }

    // A body cut short: its partial file goes.
    Download cut = Run("/cut");
    EXPECT_EQ(cut->Result(), INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(cut->Reason(), "the connection was lost");
    EXPECT_TRUE(CacheIsEmpty());

    IMoniker* moniker = nullptr;
    EXPECT_EQ(CreateURLMoniker(nullptr, u"", &moniker), INET_E_INVALID_URL);
}

} // namespace
