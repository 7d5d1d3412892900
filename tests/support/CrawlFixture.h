// Runs the crawl engine against a test server: a real progress window, the real download
// service and HTML document, a temporary folder for the tones, and clocks the test owns.
#pragma once

#include "crawl/CrawlEngine.h"
#include "platform/clock.h"
#include "platform/com/com.h"
#include "platform/text/text.h"
#include "tests/support/TestServer.h"
#include "ui/ProgressDialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

// The engine as the main dialog hosts it, with the folder field replaced by a string.
class CTestEngine : public CCrawlEngine {
public:
    std::u16string m_folder;

protected:
    std::u16string ReadSaveFolder() const override { return m_folder; }
};

// The real progress window that also keeps the engine's events, one line each: "stored
// Foo[1].l6t", "failed <url>: <reason>".
class CEventsProgress final : public CProgressDialog {
public:
    using CProgressDialog::CProgressDialog;

    void OnCrawlEvent(const CCrawlEvent& event) override {
        CProgressDialog::OnCrawlEvent(event);
        // How far along the walk is, kept apart: "2/3" is the second page of three known.
        if (event.m_kind == CCrawlEvent::kPageWalked)
            m_pages.push_back(std::to_string(event.m_nPagesWalked) + "/" +
                              std::to_string(event.m_nPagesKnown));
        if (event.m_kind == CCrawlEvent::kPageWalked || event.m_kind == CCrawlEvent::kPagesKnown)
            return;
        static constexpr const char16_t* kWhat[] = {u"stored ",      u"already there ", u"failed ",
                                                    u"failed page ", u"page cut ",      u"wait "};
        std::u16string line = kWhat[event.m_kind];
        line += event.m_kind == CCrawlEvent::kToneStored ||
                        event.m_kind == CCrawlEvent::kToneAlreadyThere
                    ? event.m_szName
                    : event.m_szUrl;
        if (!event.m_szReason.empty())
            line += u": " + std::u16string(event.m_szReason);
        m_events.push_back(line);
    }

    std::vector<std::u16string> m_events;
    std::vector<std::string> m_pages;
};

class CrawlFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GE(CoInitialize(nullptr), 0);
        m_folder =
            std::filesystem::temp_directory_path() /
            ("pm-crawl-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_nFolder++));
        std::filesystem::remove_all(m_folder);
        std::filesystem::create_directories(m_folder);
        m_engine.m_folder = FromUtf8(m_folder.string());
        OpenProgress();
    }

    void TearDown() override {
        m_release = true;
        CloseProgress();
        CoUninitialize(); // closes the service's connections before the server stops
        m_server.Stop();
        SetTickCountForTesting({});
        SetFileTimeForTesting({});
        std::filesystem::remove_all(m_folder);
    }

    void OpenProgress() {
        m_progress = std::make_unique<CEventsProgress>(nullptr);
        m_engine.m_pProgress = m_progress.get();
    }
    void CloseProgress() {
        m_engine.m_pProgress = nullptr;
        m_progress.reset();
    }

    // Serves body under path, recording each request's path in order.
    void Serve(const std::string& path, const std::string& body,
               const std::string& type = "application/octet-stream",
               const std::string& disposition = "") {
        m_server.server().Get(path, [this, body, type, disposition](const httplib::Request& req,
                                                                    httplib::Response& res) {
            Record(req);
            if (!disposition.empty())
                res.set_header("Content-Disposition", disposition);
            res.set_content(body, type);
        });
    }
    void Record(const httplib::Request& req) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::string target = req.path;
        if (!req.params.empty()) {
            target += "?";
            for (auto& [key, value] : req.params)
                target += key + "=" + value;
        }
        m_requests.push_back(target);
    }
    std::vector<std::string> Requests() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    int Hits(const std::string& path) {
        int n = 0;
        for (auto& r : Requests())
            n += r == path;
        return n;
    }

    // The folder's files and their contents.
    std::map<std::string, std::string> Folder() const {
        std::map<std::string, std::string> files;
        for (auto& entry : std::filesystem::directory_iterator(m_folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            files[entry.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    }
    void WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(m_folder / name, std::ios::binary) << bytes;
    }

    std::u16string Url(const std::string& path) const { return m_server.Url16(path); }

public:
    // A body that announces its length and sends nothing until the test ends: a transfer
    // that stays under way.
    void HoldBody(httplib::Response& res, size_t length, const char* type) {
        res.set_content_provider(length, type, [this](size_t, size_t, httplib::DataSink&) {
            while (!m_release)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return false;
        });
    }

    static inline int s_nFolder = 0;
    TestServer m_server;
    CTestEngine m_engine;
    std::unique_ptr<CEventsProgress> m_progress;
    std::filesystem::path m_folder;
    std::atomic<bool> m_release{false};
    std::mutex m_mutex;
    std::vector<std::string> m_requests;
};
