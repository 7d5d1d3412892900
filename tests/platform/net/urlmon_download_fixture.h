// The download service's tests' fixture: a local server with routes for every kind of
// answer the tests need, and helpers to read what the service stored.
#pragma once

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
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <zlib.h>

namespace download_test {

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

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline urlmon::Ref<IBindingHttpInfo> HttpInfo(IBinding* binding) {
    void* info = nullptr;
    binding->QueryInterface(IID_IBindingHttpInfo, &info);
    return urlmon::Ref<IBindingHttpInfo>::Adopt(static_cast<IBindingHttpInfo*>(info));
}

inline std::string Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", c);
        out += std::isalnum(c) ? std::string(1, char(c)) : hex;
    }
    return out;
}

// text compressed by zlib, in a gzip wrapper or (windowBits 15) a zlib one, as servers send it.
inline std::string Compressed(const std::string& text, int windowBits = MAX_WBITS + 16) {
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

} // namespace download_test
