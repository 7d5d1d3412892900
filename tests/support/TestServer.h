// An HTTP server on 127.0.0.1 with a free port, served from a thread of the test's own for
// as long as the object lives.
#pragma once

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

class TestServer {
public:
    TestServer() = default;
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    ~TestServer() { Stop(); }

    httplib::Server& server() { return m_server; }

    // Starts listening; routes may be added before or after.
    void Start() {
        m_server.set_keep_alive_timeout(1);
        m_server.set_tcp_nodelay(true);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void Stop() {
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }
    int port() const { return m_port; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    std::u16string Url16(const std::string& path) const {
        std::string s = Url(path);
        return std::u16string(s.begin(), s.end());
    }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};
