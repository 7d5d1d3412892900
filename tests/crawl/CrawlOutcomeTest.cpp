// The outcome line and the folder that the folder field names.
#include "crawl/CrawlOutcome.h"
#include "crawl/SaveFolder.h"
#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

TEST(OutcomeLineTest, CountsInTheSingularAndPluralAndOnlyWhatHappened) {
    CCrawlOutcome outcome;
    EXPECT_EQ(FormatOutcome(outcome, false, 0), u"0 new tones stored, in 0:00:00");

    outcome.m_nNewTones = 35;
    outcome.m_nAlreadyThere = 12;
    outcome.ToneFailed(u"http://a/l6file/1");
    outcome.ToneFailed(u"http://a/l6file/1"); // the same tone met twice
    EXPECT_EQ(FormatOutcome(outcome, false, 7),
              u"35 new tones stored, 12 already there, 1 failed, in 0:00:07");
    EXPECT_EQ(FormatOutcomeSummary(outcome, false), u"35 new tones stored, 1 failed");

    // A tone that failed and then came through on a later link is no failure.
    outcome.ToneDealtWith(u"http://a/l6file/1");
    outcome.m_nNewTones = 1;
    outcome.m_nFailedPages = 1;
    outcome.m_nCutPages = 2;
    outcome.m_nServerWaits = 3;
    EXPECT_EQ(FormatOutcome(outcome, false, 3723),
              u"1 new tone stored, 12 already there, 1 page failed, 2 pages too large to read "
              u"whole, slowed down by the server 3 times, in 1:02:03");

    EXPECT_EQ(FormatOutcome(outcome, true, 0).substr(0, 23), u"Cancelled: 1 new tone s");
    outcome.m_szStopReason = u"The crawl was stopped: the folder is gone.";
    EXPECT_EQ(FormatOutcome(outcome, false, 0).substr(0, 21), u"Stopped: 1 new tone s");

    // The first tone that could not be stored tells why, once.
    CCrawlOutcome unstored;
    unstored.ToneNotStored(u"http://a/l6file/2", u"Lead: Crunch?.l6t", u"Invalid argument");
    unstored.ToneNotStored(u"http://a/l6file/3", u"Pad.l6t", u"No space left on device");
    EXPECT_EQ(FormatOutcome(unstored, false, 1),
              u"0 new tones stored, 2 failed, in 0:00:01; couldn't store \"Lead: Crunch?.l6t\": "
              u"Invalid argument");

    CCrawlOutcome dead;
    dead.m_szStartPageError = u"The start page could not be fetched: connection refused";
    dead.m_nFailedPages = 1;
    EXPECT_EQ(FormatOutcome(dead, false, 1), dead.m_szStartPageError);
}

TEST(CrawlReportTest, KeepsEveryFailureAndReadsBackWhatItLeft) {
    CCrawlReport report;
    report.Add({CCrawlEvent::kToneFailed, u"http://a/l6file/1", u"A.l6t", u"not found"});
    report.Add({CCrawlEvent::kToneStored, u"http://a/l6file/2", u"B.l6t"});
    // A server's words can hold the file's own separators.
    report.Add({CCrawlEvent::kToneFailed, u"http://a/l6file/3", u"C\t.l6t", u"odd\n\\reason"});
    report.Add({CCrawlEvent::kPageCut, u"http://a/library.html?page=2", {}, u"too long"});
    report.Add({CCrawlEvent::kToneFailed, u"http://a/l6file/4", u"D.l6t", u"refused"});
    report.ToneDealtWith(u"http://a/l6file/4"); // came through on a later link
    EXPECT_EQ(report.FailedTones(),
              (std::vector<std::u16string>{u"http://a/l6file/1", u"http://a/l6file/3"}));
    ASSERT_TRUE(report.Save(u"/tmp/some\nfolder"));

    CCrawlReport read;
    EXPECT_FALSE(read.Load(u"/tmp/another folder"));
    ASSERT_TRUE(read.Load(u"/tmp/some\nfolder"));
    EXPECT_EQ(read.Text(), report.Text());
    EXPECT_EQ(read.Entries().size(), 3u);
}

TEST(SaveFolderTest, TildeAndRelativeFoldersLieInTheHomeFolder) {
    const char* saved = std::getenv("HOME");
    const std::string home = saved ? saved : "";
    setenv("HOME", "/home/tester", 1);
    EXPECT_EQ(SaveFolderFromField(u" ~ "), u"/home/tester");
    EXPECT_EQ(SaveFolderFromField(u"~/Tones/"), u"/home/tester/Tones");
    EXPECT_EQ(SaveFolderFromField(u"Tones"), u"/home/tester/Tones");
    EXPECT_EQ(SaveFolderFromField(u"/srv/~/Tones"), u"/srv/~/Tones");
    // A relative $HOME names no folder: the account's home folder stands.
    setenv("HOME", "tester", 1);
    EXPECT_EQ(SaveFolderFromField(u"~"), FromUtf8(::getpwuid(::getuid())->pw_dir));
    setenv("HOME", "/home/tester", 1);
    // What is remembered is what was typed.
    EXPECT_EQ(SaveFolderText(u"\t~/Tones/ "), u"~/Tones");

    // Never cut: a shorter folder would be another one (Start refuses it instead).
    std::u16string longFolder = u"/" + std::u16string(300, u'x');
    EXPECT_EQ(SaveFolderFromField(u"   " + longFolder + u"/"), longFolder);
    if (saved)
        setenv("HOME", home.c_str(), 1);
    else
        unsetenv("HOME");
}

} // namespace
