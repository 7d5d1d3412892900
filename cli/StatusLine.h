// Where the command line reports: stdout and stderr. On a terminal, one status line redrawn
// in place a few times a second; lines that must stay are printed above it. Text from pages
// and servers is printed with its control characters replaced, so it cannot move the cursor
// or recolour the terminal.
#pragma once

#include <cstdio>
#include <string>

class CStatusLine {
public:
    explicit CStatusLine(std::FILE* out = stdout);
    ~CStatusLine();
    CStatusLine(const CStatusLine&) = delete;
    CStatusLine& operator=(const CStatusLine&) = delete;

    // Whether the status line is shown at all: only on a terminal.
    bool IsTerminal() const { return m_bTerminal; }
    // Whether a redraw is due: the first one, the first after a printed line, or a while
    // after the last one.
    bool Due() const;
    // Redraws the status line, cut to the terminal's width.
    void Draw(const std::u16string& text);
    // Removes the status line, so the terminal is as it was.
    void Clear();
    // Prints a line that stays, to out or to stderr, above the status line.
    void PrintLine(const std::u16string& line, bool bError = false);

private:
    std::FILE* m_pOut;
    bool m_bTerminal;
    bool m_bShown = false;
    bool m_bDrawn = false;
    unsigned m_dwLastDraw = 0;
};

// The text with control characters (C0, DEL and C1) replaced by '?', as UTF-8.
std::string PrintableUtf8(std::u16string_view text);
// The text cut to at most columns characters (a surrogate pair counts once).
std::u16string CutToColumns(std::u16string_view text, size_t columns);
