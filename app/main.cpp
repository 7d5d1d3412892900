// The program's entry point: the toolkit creates theApp and runs it.
#include "app/CrawlerApp.h"

#include <cstdlib>

wxIMPLEMENT_APP_NO_MAIN(CCrawlerApp);

int main(int argc, char** argv) {
    // The windows are plain controls and never draw with OpenGL; on X11 the toolkit would
    // otherwise load the system's GL driver at start just to choose visuals, which costs
    // more memory than the rest of the program together and slows every start. A setting of
    // the user's own is kept.
    setenv("GDK_GL", "disable", 0);
    return wxEntry(argc, argv);
}
