#include "cli/JsonEvents.h"

#include "platform/text/text.h"

#include <cstdio>

namespace {

const char* EventName(CCrawlEvent::Kind kind) {
    switch (kind) {
    case CCrawlEvent::kToneStored:
        return "stored";
    case CCrawlEvent::kToneAlreadyThere:
        return "already_there";
    case CCrawlEvent::kToneFailed:
        return "tone_failed";
    case CCrawlEvent::kPageFailed:
        return "page_failed";
    case CCrawlEvent::kPageCut:
        return "page_cut";
    case CCrawlEvent::kServerWait:
        return "server_wait";
    case CCrawlEvent::kPageWalked:
        return "page";
    case CCrawlEvent::kPagesKnown:
        return "pages_known";
    }
    return "unknown";
}

// Appends ,"name":value pairs to an object under construction.
class CJsonObject {
public:
    explicit CJsonObject(const char* event) {
        m_szText = "{\"event\":\"" + std::string(event) + '"';
    }
    CJsonObject& Text(const char* name, std::u16string_view value) {
        return Raw(name, JsonString(value));
    }
    CJsonObject& Number(const char* name, int64_t value) {
        return Raw(name, std::to_string(value));
    }
    CJsonObject& Flag(const char* name, bool value) { return Raw(name, value ? "true" : "false"); }
    std::string Close() { return m_szText + '}'; }

private:
    CJsonObject& Raw(const char* name, const std::string& value) {
        m_szText += ",\"" + std::string(name) + "\":" + value;
        return *this;
    }
    std::string m_szText;
};

} // namespace

std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    for (const char c : ToUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", byte);
            out += szEscape;
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string JsonEvent(const CCrawlEvent& event) {
    CJsonObject object(EventName(event.m_kind));
    switch (event.m_kind) {
    case CCrawlEvent::kToneStored:
        object.Text("url", event.m_szUrl).Text("name", event.m_szName);
        object.Number("bytes", static_cast<int64_t>(event.m_nBytes));
        break;
    case CCrawlEvent::kToneAlreadyThere:
        object.Text("url", event.m_szUrl).Text("name", event.m_szName);
        break;
    case CCrawlEvent::kToneFailed:
        object.Text("url", event.m_szUrl).Text("name", event.m_szName);
        object.Text("reason", event.m_szReason);
        break;
    case CCrawlEvent::kPageFailed:
    case CCrawlEvent::kPageCut:
        object.Text("url", event.m_szUrl).Text("reason", event.m_szReason);
        break;
    case CCrawlEvent::kServerWait:
        object.Text("url", event.m_szUrl).Text("reason", event.m_szReason);
        object.Number("ms_left", event.m_nMsLeft);
        break;
    case CCrawlEvent::kPageWalked:
        object.Text("url", event.m_szUrl);
        object.Number("walked", event.m_nPagesWalked).Number("known", event.m_nPagesKnown);
        break;
    case CCrawlEvent::kPagesKnown:
        object.Number("walked", event.m_nPagesWalked).Number("known", event.m_nPagesKnown);
        break;
    }
    return object.Close();
}

std::string JsonOutcome(const CCrawlOutcome& outcome, bool bCancelled, int64_t elapsedSeconds,
                        int status) {
    CJsonObject object("outcome");
    object.Number("new", outcome.m_nNewTones)
        .Number("already_there", outcome.m_nAlreadyThere)
        .Number("failed_tones", outcome.FailedTones())
        .Number("failed_pages", outcome.m_nFailedPages)
        .Number("cut_pages", outcome.m_nCutPages)
        .Number("pages_walked", outcome.m_nPagesWalked)
        .Number("pages_known", outcome.m_nPagesKnown)
        .Number("seconds", elapsedSeconds)
        .Flag("cancelled", bCancelled)
        .Text("stopped",
              outcome.m_szStopReason.empty() ? outcome.m_szStartPageError : outcome.m_szStopReason)
        .Text("line", FormatOutcome(outcome, bCancelled, elapsedSeconds))
        .Number("status", status);
    return object.Close();
}
