// The program's entry point: the toolkit creates theApp and runs it.
#include "app/CrawlerApp.h"

wxIMPLEMENT_APP(CCrawlerApp);
