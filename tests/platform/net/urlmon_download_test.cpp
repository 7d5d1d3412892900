// The download service against a local server: notification order, cache files and their
// names, failures, aborts, shutdown and memory use.
#include "platform/clock.h"
#include "platform/net/cache.h"
#include "platform/net/urlmon_ref.h"
#include "tests/platform/net/urlmon_recorder.h"
#include "tests/support/TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/resource.h>
#include <thread>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;
using Download = urlmon::Ref<Recorder>;

// Releases a body slice by slice, each only once the client has reported the bytes before
// it: a service that withholds progress stalls it, and the notifications cannot coalesce.
class Lockstep {
public:
    void Acknowledge(uint64_t bytes) {
        std::lock_guard lock(m_mutex);
        m_acknowledged = std::max(m_acknowledged, bytes);
        m_changed.notify_all();
    }
    void WaitFor(uint64_t bytes) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30),
                           [&] { return m_released || m_acknowledged >= bytes; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_acknowledged = 0;
    bool m_released = false;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

urlmon::Ref<IBindingHttpInfo> HttpInfo(IBinding* binding) {
    void* info = nullptr;
    binding->QueryInterface(IID_IBindingHttpInfo, &info);
    return urlmon::Ref<IBindingHttpInfo>::Adopt(static_cast<IBindingHttpInfo*>(info));
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", c);
        out += std::isalnum(c) ? std::string(1, char(c)) : hex;
    }
    return out;
}

// text compressed by zlib, in a gzip wrapper or (windowBits 15) a zlib one, as servers send it.
std::string Compressed(const std::string& text, int windowBits = MAX_WBITS + 16) {
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

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

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UrlServiceStartup());
        httplib::Server& s = m_server.server();
        s.Get("/files/.*", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("tone-bytes", "audio/x-l6t; charset=x");
        });
        s.Get("/named", [](const httplib::Request& req, httplib::Response& res) {
            res.set_header("Content-Disposition", req.get_param_value("cd"));
            res.set_content("named", "application/octet-stream");
        });
        s.Get("/status/(\\d+)", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("error page", "text/html");
        });
        s.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect(req.get_param_value("to"));
        });
        s.Get("/loop",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
        // Promises more than it sends, then closes the connection.
        s.Get("/cut", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(1000, "application/octet-stream",
                                     [this](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset > 0)
                                             return false;
                                         sink.write(m_slice.data(), 100);
                                         return true;
                                     });
        });
        // Takes the request and says nothing until the test ends.
        s.Get("/silent", [this](const httplib::Request&, httplib::Response& res) {
            m_lockstep.WaitFor(UINT64_MAX);
            res.set_content("late", "text/plain");
        });
        s.Get("/slices/Big.l6t", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(kSliced, "application/octet-stream",
                                     [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                         m_lockstep.WaitFor(offset);
                                         sink.write(m_slice.data(), std::min(length, kSlice));
                                         return true;
                                     });
        });
        // Of a type the server does not compress, so that each slice leaves at once.
        s.Get("/trickle", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("application/octet-stream",
                                             [this](size_t offset, httplib::DataSink& sink) {
                                                 m_lockstep.WaitFor(offset);
                                                 if (offset >= 500)
                                                     sink.done();
                                                 else
                                                     sink.write(m_slice.data(), 100);
                                                 return true;
                                             });
        });
        s.Get("/huge", [this](const httplib::Request& req, httplib::Response& res) {
            size_t size = std::stoul(req.get_param_value("size"));
            res.set_content_provider(size, "application/octet-stream",
                                     [this](size_t, size_t length, httplib::DataSink& sink) {
                                         sink.write(m_slice.data(), std::min(length, kSlice));
                                         return true;
                                     });
        });
        // A compressed tone: gzip only when asked for it; ?coding= sends the given coding
        // unasked; ?members adds a second gzip member and a stray line end; ?cut= keeps that
        // many bytes of the compressed stream, ?damage spoils some in the middle, in a
        // response that is whole otherwise.
        s.Get("/gzip/Tone.l6t", [this](const httplib::Request& req, httplib::Response& res) {
            std::string coding = req.get_param_value("coding");
            if (coding.empty()) {
                if (req.get_header_value("Accept-Encoding").find("gzip") == std::string::npos) {
                    res.status = 406;
                    return;
                }
                coding = "gzip";
            }
            std::string body = Compressed(m_tone, coding == "deflate" ? MAX_WBITS : MAX_WBITS + 16);
            if (req.has_param("members"))
                body += Compressed(m_tone) + "\r\n";
            if (req.has_param("cut"))
                body.resize(std::stoul(req.get_param_value("cut")));
            if (req.has_param("damage"))
                body.replace(body.size() / 2, 16, 16, '\xff');
            res.set_header("Content-Encoding", coding);
            res.set_content(body, "application/octet-stream");
        });
        // Pushes back m_nPushBacks times (m_nPushStatus, with m_retryAfter when not empty),
        // then answers; /flaky fails once, then answers.
        s.Get("/busy/.*", [this](const httplib::Request&, httplib::Response& res) {
            ++m_nHits;
            if (m_nPushBacks > 0) {
                --m_nPushBacks;
                res.status = m_nPushStatus;
                if (!m_retryAfter.empty())
                    res.set_header("Retry-After", m_retryAfter);
                return res.set_content("busy", "text/plain");
            }
            res.set_content("tone-bytes", "application/octet-stream");
        });
        s.Get("/flaky/.*", [this](const httplib::Request&, httplib::Response& res) {
            if (m_nHits++ == 0)
                res.status = 500;
            else
                res.set_content("tone-bytes", "application/octet-stream");
        });
        // Megabytes of zeros in a few kilobytes: all of it arrives at once.
        s.Get("/zeros", [](const httplib::Request&, httplib::Response& res) {
            static const std::string body = Compressed(std::string(kZeros, '\0'));
            res.set_header("Content-Encoding", "gzip");
            res.set_content(body, "application/octet-stream");
        });
        m_server.Start();
    }
    void TearDown() override {
        m_lockstep.Release();
        UrlServiceShutdown();
        SetTransferTimeoutsForTesting(0, 0);
        SetBodyLimitsForTesting(0, 0);
        SetTickCountForTesting({});
        SetFileTimeForTesting({});
    }

    Download Start(const std::string& path, HRESULT* bindResult = nullptr) {
        return Download::Adopt(StartDownload(m_server.Url16(path), bindResult));
    }
    Download Run(const std::string& path) {
        Download download = Start(path);
        EXPECT_TRUE(PumpUntil([&] { return download->Stopped(); })) << path;
        return download;
    }
    // No entry's file is left; emptied files kept for reuse are not entries.
    static bool CacheIsEmpty() {
        for (const fs::directory_entry& entry : fs::directory_iterator(UrlCacheFolder())) {
            if (!entry.path().filename().string().starts_with(cache::kSparePrefix))
                return false;
        }
        return true;
    }
    // Dispatches whatever is queued; what it delivers shows in the recorders.
    static void DrainPump() {
        MSG msg;
        while (PeekMessage(&msg))
            DispatchMessage(&msg);
    }
    // Acknowledge each "downloading" notification to the lockstep server.
    void Follow(Recorder& recorder) {
        recorder.onEvent = [this](Recorder&, const Notification& n) {
            if (n.status == BINDSTATUS_DOWNLOADINGDATA)
                m_lockstep.Acknowledge(n.progress);
        };
    }

    // The largest "downloading" progress reported.
    static ULONG Downloaded(const Recorder& recorder) {
        ULONG most = 0;
        for (const Notification& n : recorder.events) {
            if (n.kind == Notification::Progress && n.status == BINDSTATUS_DOWNLOADINGDATA)
                most = std::max(most, n.progress);
        }
        return most;
    }

    static constexpr size_t kZeros = 32u << 20;
    static constexpr size_t kSlice = 512 * 1024;
    static constexpr size_t kSliced = 8 * kSlice;
    std::string m_slice = std::string(kSlice, 'x');
    // Over one decoding buffer, and compressible as a page is.
    const std::string m_tone = [] {
        std::string tone;
        for (int i = 0; tone.size() < 300000; ++i)
            tone += "sample " + std::to_string(i * 7919 % 10007) + "\n";
        return tone;
    }();
    Lockstep m_lockstep;
    std::atomic<int> m_nHits{0};
    std::atomic<int> m_nPushBacks{0};
    int m_nPushStatus = 429;
    std::string m_retryAfter;
    TestServer m_server;
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

TEST_F(DownloadTest, ACompressedBodyIsStoredAsTheFileItHolds) {
    Download d = Run("/gzip/Tone.l6t");
    ASSERT_EQ(d->Result(), S_OK) << d->Reason(); // 406 when the request did not ask for gzip
    EXPECT_EQ(ReadFile(d->CacheFile()), m_tone);
    // The Content-Length counts compressed bytes, so the decoded size is known only at the end.
    EXPECT_EQ(d->Find(BINDSTATUS_BEGINDOWNLOADDATA)->progressMax, 0u);
    const Notification* last = nullptr;
    for (const Notification& n : d->events) {
        if (n.kind == Notification::Progress && n.status == BINDSTATUS_DOWNLOADINGDATA) {
            EXPECT_LE(n.progress, n.progressMax);
            last = &n;
        }
    }
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->progress, m_tone.size());
    EXPECT_EQ(last->progressMax, m_tone.size());

    // Codings sent unasked, and gzip members one after another, are read whole too.
    for (std::string query : {"?coding=deflate", "?coding=x-gzip&members"}) {
        Download other = Run("/gzip/Tone.l6t" + query);
        ASSERT_EQ(other->Result(), S_OK) << query << ": " << other->Reason();
        EXPECT_EQ(ReadFile(other->CacheFile()),
                  query.ends_with("members") ? m_tone + m_tone : m_tone)
            << query;
    }
}

TEST_F(DownloadTest, ACompressedBodyThatCannotBeReadFailsTheTransfer) {
    const size_t size = Compressed(m_tone).size();
    for (const std::string& query : std::initializer_list<std::string>{
             "?cut=" + std::to_string(size / 2),
             "?cut=" + std::to_string(size - 4), // all decoded, but the stream's end never came
             "?damage",
             "?coding=br",
         }) {
        Download d = Run("/gzip/Tone.l6t" + query);
        EXPECT_EQ(d->Result(), INET_E_DOWNLOAD_FAILURE) << query;
        EXPECT_EQ(d->Reason(), "the server's compressed data could not be read") << query;
        EXPECT_TRUE(CacheIsEmpty()) << query;
    }
}

TEST_F(DownloadTest, ABodyBeyondAnyRealToneFailsAtItsLimitAndLeavesNothingInTheCache) {
    constexpr uint64_t kLimit = 100000;
    constexpr char kTooLarge[] = "the server sent a body larger than any real tone";
    struct Case {
        std::string path;
        uint64_t maxBody, minExpansion;
        std::string reason;
    } cases[] = {
        {"/gzip/Tone.l6t", kLimit, 0, kTooLarge},    // found out as it is decoded
        {"/huge?size=200000", kLimit, 0, kTooLarge}, // announced: not even fetched
        {"/zeros", 0, 1u << 20,
         "the server sent a compressed body that expands beyond any real tone"},
    };
    for (const Case& c : cases) {
        SetBodyLimitsForTesting(c.maxBody, c.minExpansion);
        Download d = Run(c.path);
        EXPECT_EQ(d->Result(), INET_E_DOWNLOAD_FAILURE) << c.path;
        EXPECT_EQ(d->Reason(), c.reason) << c.path;
        EXPECT_LE(Downloaded(*d.get()), c.maxBody ? c.maxBody : c.minExpansion) << c.path;
        EXPECT_TRUE(CacheIsEmpty()) << c.path;
    }
}

TEST_F(DownloadTest, OnePumpPassStoresABoundedShareOfABodyHoweverFastItComes) {
    // All of it arrives at once; the pump must still get back to the window between parts.
    Download d = Start("/zeros");
    ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); }));
    ASSERT_EQ(d->Result(), S_OK) << d->Reason();
    EXPECT_EQ(fs::file_size(d->CacheFile()), kZeros);
    // One "downloading" notification per pass, each with the bytes stored up to then; a few
    // megabytes are a few milliseconds of work.
    constexpr size_t kMaxPerPass = 4u << 20;
    ULONG before = 0;
    for (const Notification& n : d->events) {
        if (n.kind != Notification::Progress || n.status != BINDSTATUS_DOWNLOADINGDATA)
            continue;
        EXPECT_LE(n.progress - before, kMaxPerPass);
        before = n.progress;
    }
    EXPECT_EQ(before, kZeros);
}

TEST_F(DownloadTest, ASilentServerEndsTheTransferOnItsOwn) {
    SetTransferTimeoutsForTesting(1000, 1);
    const auto start = std::chrono::steady_clock::now();
    Download d = Start("/silent");
    ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); }, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(d->Result(), INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(d->Reason(), "the server did not answer");
}

TEST_F(DownloadTest, RedirectsAreFollowedAndTheFinalUrlIsKnown) {
    Download d = Run("/redirect?to=/files/Final.l6t");
    EXPECT_EQ(d->Result(), S_OK);
    std::string final = m_server.Url("/files/Final.l6t");
    ASSERT_NE(d->Find(BINDSTATUS_REDIRECTING), nullptr);
    EXPECT_EQ(d->Find(BINDSTATUS_REDIRECTING)->text, final);
    EXPECT_EQ(d->CacheFile(), UrlCacheFolder() + "/Final[1].l6t");
    EXPECT_EQ(ToUtf8(HttpInfo(d->binding)->GetFinalUrl()), final);
    // The cache entry belongs to the address that was bound.
    EXPECT_TRUE(DeleteUrlCacheEntry(m_server.Url16("/redirect?to=/files/Final.l6t").c_str()));
}

TEST_F(DownloadTest, AbortStopsAtOnceAndSuppressesWhatWasQueued) {
    // Aborted while "begin download" is delivered: the stop arrives before Abort returns, the
    // queued cache file name never.
    Download early = Start("/files/Tone.l6t");
    early->onEvent = [](Recorder& r, const Notification& n) {
        if (n.status == BINDSTATUS_BEGINDOWNLOADDATA) {
            EXPECT_EQ(r.binding->Abort(), S_OK);
            EXPECT_TRUE(r.Stopped());
            EXPECT_EQ(r.binding->Abort(), S_FALSE);
        }
    };
    ASSERT_TRUE(PumpUntil([&] { return early->Stopped(); }));
    DrainPump();
    EXPECT_EQ(early->Statuses(), (std::vector<ULONG>{1, 2, 11, 13, 4}));
    EXPECT_EQ(early->Result(), E_ABORT);
    EXPECT_EQ(early->Reason(), "(null)");

    // Aborted from a wait, not from a notification, while a body is still arriving.
    Download middle = Start("/trickle");
    ASSERT_TRUE(PumpUntil([&] { return middle->Find(BINDSTATUS_DOWNLOADINGDATA) != nullptr; }));
    size_t seen = middle->events.size();
    EXPECT_EQ(middle->binding->Abort(), S_OK);
    ASSERT_EQ(middle->events.size(), seen + 1);
    EXPECT_EQ(middle->Result(), E_ABORT);
    DrainPump();
    EXPECT_EQ(middle->events.size(), seen + 1);
    EXPECT_EQ(middle->RefCount(), 1u) << "the service let the callback go";

    // Aborted after the transfer ended but before its stop was delivered.
    Download late = Start("/files/Tone.l6t");
    late->onEvent = [](Recorder& r, const Notification& n) {
        if (n.status == BINDSTATUS_ENDDOWNLOADDATA) {
            r.binding->Abort();
            EXPECT_TRUE(r.Stopped());
        }
    };
    ASSERT_TRUE(PumpUntil([&] { return late->Stopped(); }));
    DrainPump();
    EXPECT_EQ(late->Result(), E_ABORT);
    EXPECT_EQ(late->events[late->events.size() - 2].status, BINDSTATUS_ENDDOWNLOADDATA);

    EXPECT_TRUE(CacheIsEmpty());
    EXPECT_EQ(late->binding->Abort(), S_FALSE);
}

TEST_F(DownloadTest, ShutdownEndsRunningTransfersSilentlyAndRemovesTheCache) {
    Run("/files/Tone.l6t");
    Download running = Start("/trickle");
    ASSERT_TRUE(PumpUntil([&] { return running->Find(BINDSTATUS_DOWNLOADINGDATA) != nullptr; }));
    std::string folder = UrlCacheFolder();
    UrlServiceShutdown();
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(running->RefCount(), 1u) << "the service let the callback go";
    EXPECT_EQ(running->binding->Abort(), S_FALSE);
    size_t seen = running->events.size();
    MSG msg;
    EXPECT_FALSE(PeekMessage(&msg));
    EXPECT_EQ(running->events.size(), seen);
}

TEST_F(DownloadTest, ABodyGoesToDiskNotToMemory) {
    constexpr size_t kSize = 200u << 20;
    std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak from the current size
    auto peakKb = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("VmHWM:"))
                return std::stoul(line.substr(6));
        }
        return 0ul;
    };
    unsigned long before = peakKb();
    Download d = Run("/huge?size=" + std::to_string(kSize));
    EXPECT_EQ(d->Result(), S_OK);
    EXPECT_EQ(fs::file_size(d->CacheFile()), kSize);
    EXPECT_LT(peakKb() - before, 48ul * 1024) << "peak grew by more than 48 MB";
}

TEST_F(DownloadTest, AFullDiskFailsTheTransferAndRemovesThePartialFile) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    Download d = Run("/huge?size=" + std::to_string(4 << 20));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    // Told apart from a failed download: every later one would fail the same way.
    EXPECT_EQ(d->Result(), STG_E_WRITEFAULT);
    EXPECT_EQ(d->Reason(), "File too large");
    EXPECT_TRUE(CacheIsEmpty());
}

TEST_F(DownloadTest, TheBindContextHandsBackThePreviousCallback) {
    Download first = Download::Adopt(new Recorder);
    Download second = Download::Adopt(new Recorder);
    IBindCtx* context = nullptr;
    ASSERT_EQ(CreateAsyncBindCtx(0, first.get(), nullptr, &context), S_OK);
    IBindStatusCallback* previous = nullptr;
    EXPECT_EQ(RegisterBindStatusCallback(context, second.get(), &previous, 0), S_OK);
    EXPECT_EQ(previous, first.get());
    previous->Release();

    IMoniker* moniker = nullptr;
    CreateURLMoniker(nullptr, m_server.Url16("/files/Tone.l6t").c_str(), &moniker);
    void* storage = nullptr;
    EXPECT_EQ(moniker->BindToStorage(context, nullptr, IID_IStream, &storage), MK_S_ASYNCHRONOUS);
    EXPECT_EQ(storage, nullptr);
    EXPECT_EQ(RevokeBindStatusCallback(context, second.get()), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return second->Stopped(); }));
    EXPECT_TRUE(first->events.empty());
    context->Release();
    moniker->Release();
    EXPECT_EQ(second->RefCount(), 1u);
}

// A 429 or 503 asks the client to slow down: the request goes out again after the wait the
// server names, in seconds or as a date, or after a second when it names none; the callback
// is told of the wait, and the transfer ends as if nothing had happened. A wait beyond
// reason is a failure in the server's words.
TEST_F(DownloadTest, APushBackIsWaitedOutAndTheRequestRepeated) {
    uint32_t tick = 0;
    SetTickCountForTesting([&tick] { return tick += 10; });
    constexpr int64_t kNow = 1445412480; // Wed, 21 Oct 2015 07:28:00 GMT
    SetFileTimeForTesting([] { return (kNow + 11644473600) * 10000000; });
    struct Case {
        int status;
        std::string retryAfter;
        uint32_t waitMs;
        std::string words;
    } cases[] = {
        {429, "3", 3000, "HTTP 429 Too Many Requests"},
        {503, "Wed, 21 Oct 2015 07:28:05 GMT", 5000, "HTTP 503 Service Unavailable"},
        {429, "", 1000, "HTTP 429 Too Many Requests"},
    };
    for (const Case& c : cases) {
        m_nHits = 0;
        m_nPushBacks = 1;
        m_nPushStatus = c.status;
        m_retryAfter = c.retryAfter;
        Download d = Start("/busy/Tone.l6t");
        uint32_t waitTold = 0, repeated = 0;
        d->onEvent = [&](Recorder&, const Notification& n) {
            if (n.status == BINDSTATUS_SERVERWAIT)
                waitTold = tick;
            else if (n.status == BINDSTATUS_FINDINGRESOURCE && waitTold && !repeated)
                repeated = tick;
        };
        ASSERT_TRUE(PumpUntil([&] { return d->Stopped(); })) << c.retryAfter;
        EXPECT_EQ(d->Result(), S_OK) << c.retryAfter << ": " << d->Reason();
        EXPECT_EQ(ReadFile(d->CacheFile()), "tone-bytes");
        EXPECT_EQ(m_nHits, 2);
        const Notification* wait = d->Find(BINDSTATUS_SERVERWAIT);
        ASSERT_NE(wait, nullptr) << c.retryAfter;
        EXPECT_EQ(wait->text, c.words);
        EXPECT_EQ(wait->progress, c.waitMs);
        // The clock moves on between the wait's start and the notification of it.
        EXPECT_GE(repeated - waitTold + 100, c.waitMs) << c.retryAfter;
    }

    m_nPushBacks = 1;
    m_retryAfter = "7200";
    Download away = Run("/busy/Tone.l6t");
    EXPECT_EQ(away->Result(), INET_E_DOWNLOAD_FAILURE);
    EXPECT_EQ(away->Reason(), "the server asked to wait 2 hours");
    EXPECT_EQ(away->Find(BINDSTATUS_CACHEFILENAMEAVAILABLE), nullptr);
}

// What failed ahead is no answer: the bind asks afresh. And a transfer ahead told to read
// only a prefix is cut there from its first byte.
TEST_F(DownloadTest, TransfersAheadFailNothingAndReadOnlyWhatTheyAreTold) {
    SetMaxConnections(2);
    SetUpcomingBinds({UpcomingBind{m_server.Url16("/flaky/Tone.l6t"), {}, 0}});
    ASSERT_TRUE(PumpUntil([&] { return m_nHits == 1 && CountTransfersAhead() == 0; }));
    Download flaky = Run("/flaky/Tone.l6t");
    EXPECT_EQ(flaky->Result(), S_OK) << flaky->Reason();
    EXPECT_EQ(m_nHits, 2);

    constexpr uint64_t kPrefix = 100000;
    const std::string huge = "/huge?size=" + std::to_string(64u << 20);
    SetUpcomingBinds({UpcomingBind{m_server.Url16(huge), {}, kPrefix}});
    ASSERT_TRUE(PumpUntil([&] { return CountTransfersAhead() == 0; }));
    Download page = Run(huge);
    EXPECT_EQ(page->Result(), S_OK) << page->Reason();
    EXPECT_GT(fs::file_size(page->CacheFile()), kPrefix);
    EXPECT_LT(fs::file_size(page->CacheFile()), kPrefix + (1u << 20));
}

} // namespace
