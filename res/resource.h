// Identifiers of the program's windows, controls, strings and icon.
#pragma once

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_CRAWLER_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128;
constexpr int IDD_PROGRESS = 130;

// Controls (the toolkit's window ids).
constexpr int IDC_SOURCE_URL = 1000;
constexpr int IDC_SAVE_PATH = 1001;
constexpr int IDC_START_CRAWL = 1002;
constexpr int IDC_BROWSE = 1003;
constexpr int IDC_PAGE_STATUS = 1005;
constexpr int IDC_TONE_STATUS = 1006;
constexpr int IDC_PROGRESS_BAR = 1007;
constexpr int IDC_LOG = 1008;
constexpr int IDC_TOTALS = 1011;
constexpr int IDC_OUTCOME = 1012;
constexpr int IDC_PAGES = 1013;
constexpr int IDC_PAGES_BAR = 1014;
constexpr int IDC_TONES = 1015;
constexpr int IDC_SPEED = 1016;
constexpr int IDC_DETAILS = 1017;
constexpr int IDC_OPEN_FOLDER = 1018;
constexpr int IDC_RETRY_FAILED = 1019;

// System menu commands; the low four bits of a system command belong to the system.
constexpr unsigned IDM_ABOUTBOX = 0x0010;
constexpr unsigned SC_MINIMIZE = 0xF020;
constexpr unsigned SC_CLOSE = 0xF060;
constexpr unsigned SC_RESTORE = 0xF120;
