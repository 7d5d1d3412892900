// Where the command line reports: stdout and stderr, in the locale's encoding. On a terminal,
// one status line redrawn in place a few times a second; lines that must stay are printed
// above it. Text from pages and servers is printed with its control characters replaced, so
// it cannot move the cursor or recolour the terminal.
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
    // Whether what reads the output has closed it (a reader such as head that has read
    // enough): nothing more can be told there. Seen at a write (EPIPE), and between writes
    // a few times a second, so a crawl that has nothing to print learns it too.
    bool IsOutputClosed();
    // Whether a redraw is due: the first one, the first after a printed line, or a while
    // after the last one.
    bool Due() const;
    // Redraws the status line, cut to the terminal's width.
    void Draw(const std::u16string& text);
    // Removes the status line, so the terminal is as it was.
    void Clear();
    // Prints a line that stays, to out or to stderr, above the status line.
    void PrintLine(const std::u16string& line, bool bError = false);
    // The same for a line already in the output's encoding (OutputText, OutputFileName).
    void PrintBytes(const std::string& line, bool bError = false);

private:
    // Writes to out; a closed output is noted and written to no more.
    void Write(const std::string& bytes);

    std::FILE* m_pOut;
    bool m_bTerminal;
    bool m_bShown = false;
    bool m_bDrawn = false;
    bool m_bOutputClosed = false;
    unsigned m_dwLastDraw = 0;
    unsigned m_dwLastClosedCheck = 0;
};
