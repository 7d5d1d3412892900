#include "cli/StatusLine.h"

#include "cli/LocaleText.h"
#include "platform/clock.h"

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// A few redraws a second read as live and cost the crawl nothing.
constexpr unsigned kRedrawMs = 250;
constexpr size_t kFallbackColumns = 80;
constexpr char kClearToEnd[] = "\x1b[K";

size_t TerminalColumns(std::FILE* out) {
    winsize size{};
    if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return kFallbackColumns;
}

} // namespace

CStatusLine::CStatusLine(std::FILE* out) : m_pOut(out), m_bTerminal(::isatty(::fileno(out))) {}

CStatusLine::~CStatusLine() {
    Clear();
}

bool CStatusLine::Due() const {
    return m_bTerminal && (!m_bDrawn || GetTickCount() - m_dwLastDraw >= kRedrawMs);
}

void CStatusLine::Draw(const std::u16string& text) {
    if (!m_bTerminal)
        return;
    // One column stays free: writing into the last one makes some terminals wrap.
    const size_t columns = TerminalColumns(m_pOut);
    Write("\r" + OutputText(text, columns > 1 ? columns - 1 : 1) + kClearToEnd);
    m_bShown = true;
    m_bDrawn = true;
    m_dwLastDraw = GetTickCount();
}

void CStatusLine::Clear() {
    if (!m_bShown)
        return;
    Write(std::string("\r") + kClearToEnd);
    m_bShown = false;
    m_bDrawn = false; // the next status is drawn at once
}

void CStatusLine::PrintLine(const std::u16string& line, bool bError) {
    PrintBytes(OutputText(line), bError);
}

void CStatusLine::PrintBytes(const std::string& line, bool bError) {
    Clear();
    if (!bError) {
        Write(line + "\n");
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool CStatusLine::IsOutputClosed() {
    if (m_bOutputClosed || m_bTerminal || GetTickCount() - m_dwLastClosedCheck < kRedrawMs)
        return m_bOutputClosed;
    m_dwLastClosedCheck = GetTickCount();
    // The writing end of a pipe whose reader has gone reports an error condition.
    pollfd out{::fileno(m_pOut), POLLOUT, 0};
    if (::poll(&out, 1, 0) == 1 && (out.revents & POLLERR))
        m_bOutputClosed = true;
    return m_bOutputClosed;
}

void CStatusLine::Write(const std::string& bytes) {
    if (m_bOutputClosed)
        return;
    errno = 0;
    const bool bWritten = std::fwrite(bytes.data(), 1, bytes.size(), m_pOut) == bytes.size() &&
                          std::fflush(m_pOut) == 0;
    if (!bWritten && errno == EPIPE)
        m_bOutputClosed = true;
}
