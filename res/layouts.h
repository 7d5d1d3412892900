// The dialog templates: captions, texts and rectangles in dialog units (x, y, width,
// height; a dialog's size is its client area). The windows are built from these.
#pragma once

#include "res/resource.h"

struct DialogRect {
    int x, y, cx, cy;
};

namespace layout {

namespace crawler { // IDD_CRAWLER_DIALOG
inline constexpr char16_t kCaption[] = u"Patchmere Crawler";
inline constexpr DialogRect kDialog = {0, 0, 320, 100};
inline constexpr char16_t kUrlLabel[] = u"Source &URL";
inline constexpr DialogRect kUrlLabelRect = {7, 7, 92, 12};
inline constexpr DialogRect kUrlRect = {7, 22, 251, 14};
inline constexpr char16_t kStart[] = u"Start Crawl";
inline constexpr DialogRect kStartRect = {263, 21, 50, 16};
inline constexpr char16_t kPathLabel[] = u"Save To &Path:";
inline constexpr DialogRect kPathLabelRect = {7, 45, 92, 12};
inline constexpr DialogRect kPathRect = {7, 57, 251, 14};
inline constexpr char16_t kBrowse[] = u"&Browse";
inline constexpr DialogRect kBrowseRect = {263, 56, 50, 16};
// What the last crawl did; empty until one has run.
inline constexpr DialogRect kOutcomeRect = {7, 78, 306, 16};
// After a crawl the dialog grows by a row: what failed, its retry, and the folder.
inline constexpr DialogRect kDialogAfterCrawl = {0, 0, 320, 120};
inline constexpr char16_t kDetails[] = u"&Details…";
inline constexpr DialogRect kDetailsRect = {7, 98, 60, 16};
inline constexpr char16_t kRetryFailed[] = u"&Retry Failed";
inline constexpr DialogRect kRetryFailedRect = {72, 98, 60, 16};
inline constexpr char16_t kOpenFolder[] = u"Open &Folder";
inline constexpr DialogRect kOpenFolderRect = {253, 98, 60, 16};
} // namespace crawler

namespace about { // IDD_ABOUTBOX
inline constexpr char16_t kCaption[] = u"About Patchmere Crawler";
inline constexpr DialogRect kDialog = {0, 0, 264, 65};
inline constexpr DialogRect kIconRect = {11, 17, 21, 20};
inline constexpr DialogRect kVersionRect = {48, 19, 119, 8};
inline constexpr char16_t kCopyright[] = u"Copyright (C) 2003";
inline constexpr DialogRect kCopyrightRect = {48, 31, 119, 8};
inline constexpr char16_t kOk[] = u"OK";
inline constexpr DialogRect kOkRect = {207, 7, 50, 16};
} // namespace about

namespace progress { // IDD_PROGRESS
inline constexpr char16_t kCaption[] = u"Crawling Patchmere library...";
inline constexpr DialogRect kDialog = {0, 0, 340, 290};
inline constexpr char16_t kCancel[] = u"Cancel";
inline constexpr DialogRect kCancelRect = {149, 207, 50, 14};
inline constexpr DialogRect kBarRect = {7, 165, 326, 14};
inline constexpr DialogRect kPageStatusRect = {7, 7, 326, 39};
inline constexpr DialogRect kToneStatusRect = {7, 48, 326, 31};
inline constexpr DialogRect kLogRect = {7, 82, 326, 78};
// The boxes have no label on screen; assistive technologies call them by these names.
inline constexpr char16_t kPageStatusName[] = u"Page";
inline constexpr char16_t kToneStatusName[] = u"Tone";
inline constexpr char16_t kLogName[] = u"Log";
inline constexpr DialogRect kTotalsRect = {7, 182, 326, 12};
// The whole crawl, below the current transfer: pages walked of those known with a bar of
// them, the tones so far, the rate and the time left.
inline constexpr DialogRect kPagesRect = {7, 228, 326, 12};
inline constexpr DialogRect kPagesBarRect = {7, 241, 326, 10};
inline constexpr DialogRect kTonesRect = {7, 256, 326, 12};
inline constexpr DialogRect kSpeedRect = {7, 271, 326, 12};
} // namespace progress

namespace report { // what the last crawl could not fetch or read whole
inline constexpr char16_t kCaption[] = u"Crawl Report";
inline constexpr DialogRect kDialog = {0, 0, 360, 200};
inline constexpr char16_t kLabel[] = u"&Tones and pages that failed or were read in part:";
inline constexpr DialogRect kLabelRect = {7, 7, 346, 10};
inline constexpr DialogRect kListRect = {7, 19, 346, 152};
inline constexpr char16_t kClose[] = u"Close";
inline constexpr DialogRect kCloseRect = {303, 177, 50, 16};
} // namespace report

// The string table.
inline constexpr char16_t kAboutMenuItem[] = u"&About Patchmere Crawler..."; // IDS_ABOUTBOX
inline constexpr char16_t kCloseMenuItem[] = u"&Close";
// The progress window's boxes.
inline constexpr char16_t kCopyMenuItem[] = u"&Copy";
inline constexpr char16_t kSelectAllMenuItem[] = u"Select &All";

} // namespace layout
