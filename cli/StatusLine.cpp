#include "cli/StatusLine.h"

#include "platform/clock.h"
#include "platform/text/text.h"

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

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

} // namespace

std::string PrintableUtf8(std::u16string_view text) {
    std::u16string printable(text);
    for (char16_t& c : printable) {
        if (IsControl(c))
            c = u'?';
    }
    return ToUtf8(printable);
}

std::u16string CutToColumns(std::u16string_view text, size_t columns) {
    size_t units = 0;
    for (size_t n = 0; n < columns && units < text.size(); ++n)
        units += IsHighSurrogate(text[units]) && units + 1 < text.size() ? 2 : 1;
    return std::u16string(text.substr(0, units));
}

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
    const std::string line = PrintableUtf8(CutToColumns(text, columns > 1 ? columns - 1 : 1));
    std::fprintf(m_pOut, "\r%s%s", line.c_str(), kClearToEnd);
    std::fflush(m_pOut);
    m_bShown = true;
    m_bDrawn = true;
    m_dwLastDraw = GetTickCount();
}

void CStatusLine::Clear() {
    if (!m_bShown)
        return;
    std::fprintf(m_pOut, "\r%s", kClearToEnd);
    std::fflush(m_pOut);
    m_bShown = false;
    m_bDrawn = false; // the next status is drawn at once
}

void CStatusLine::PrintLine(const std::u16string& line, bool bError) {
    Clear();
    std::FILE* to = bError ? stderr : m_pOut;
    std::fprintf(to, "%s\n", PrintableUtf8(line).c_str());
    std::fflush(to);
}
