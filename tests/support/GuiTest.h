// Shared fixtures for tests that open the program's windows: a private settings location per
// test, recorded message boxes and folder browsers, clocks owned by the test, and ways to
// answer a modal window from inside its run.
#pragma once

#include "app/CrawlerApp.h"
#include "platform/clock.h"
#include "platform/wx/msgbox.h"
#include "platform/wx/shell.h"
#include "platform/wx/wxtext.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/fileconf.h>
#include <wx/timer.h>
#include <wx/wfstream.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

struct RecordedMessageBox {
    wxWindow* owner;
    std::u16string text;
    std::u16string caption;
    UINT type;
};

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int s_nFolder = 0;
        m_configHome =
            std::filesystem::temp_directory_path() /
            ("pm-gui-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_nFolder++));
        std::filesystem::remove_all(m_configHome);
        std::filesystem::create_directories(m_configHome);
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            m_oldConfigHome = old;
        setenv("XDG_CONFIG_HOME", m_configHome.c_str(), 1);
        theApp().SetRegistryKey(u"Patchmere Crawler");

        SetMessageBoxForTesting([this](wxWindow* owner, const std::u16string& text,
                                       const std::u16string& caption, UINT type) {
            m_boxes.push_back({owner, text, caption, type});
            return IDOK;
        });
        SetBrowseForFolderForTesting([this](wxWindow* owner, const std::u16string& title) {
            m_browseOwner = owner;
            m_browseTitle = title;
            return m_browseAnswer;
        });
    }

    void TearDown() override {
        m_timers.clear();
        SetMessageBoxForTesting({});
        SetBrowseForFolderForTesting({});
        SetTickCountForTesting({});
        SetFileTimeForTesting({});
        if (m_oldConfigHome)
            setenv("XDG_CONFIG_HOME", m_oldConfigHome->c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(m_configHome, ignored);
    }

    // The settings file of the running program and one value of its "Config" group.
    std::filesystem::path SettingsFile() const { return theApp().Settings().FilePath(); }
    std::optional<std::u16string> StoredValue(const char* entry) const {
        wxFileInputStream in(SettingsFile().string());
        if (!in.IsOk())
            return std::nullopt;
        wxFileConfig config(in, wxConvUTF8);
        config.SetExpandEnvVars(false);
        wxString value;
        if (!config.Read(wxString("/Config/") + entry, &value))
            return std::nullopt;
        return FromWx(value);
    }

    // Runs `inside` once a modal dialog of type T is running (polled by a timer); `inside`
    // ends the dialog. Arm it before the run starts; the returned count says how often it
    // ran.
    template <typename T>
    std::shared_ptr<int> WhenModal(std::function<void(T&)> inside, int times = 1) {
        auto count = std::make_shared<int>(0);
        auto timer = std::make_unique<wxTimer>();
        timer->Bind(wxEVT_TIMER, [count, times, inside](wxTimerEvent& event) {
            if (*count >= times) {
                event.GetTimer().Stop();
                return;
            }
            for (wxWindow* window : wxTopLevelWindows) {
                auto* dialog = dynamic_cast<T*>(window);
                if (dialog && dialog->IsModal() && !dialog->IsBeingDeleted()) {
                    ++*count;
                    inside(*dialog);
                    return;
                }
            }
        });
        timer->Start(5);
        m_timers.push_back(std::move(timer));
        return count;
    }

    std::filesystem::path m_configHome;
    std::optional<std::string> m_oldConfigHome;
    std::vector<RecordedMessageBox> m_boxes;
    std::optional<std::u16string> m_browseAnswer;
    wxWindow* m_browseOwner = nullptr;
    std::u16string m_browseTitle;
    std::vector<std::unique_ptr<wxTimer>> m_timers;
};
