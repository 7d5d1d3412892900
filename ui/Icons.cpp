#include "ui/Icons.h"

#include "res/pmcrawler16.xpm"
#include "res/pmcrawler32.xpm"

wxIcon LoadMainIcon(int size) {
    return wxIcon(size <= 16 ? pmcrawler16_xpm : pmcrawler32_xpm);
}

wxIconBundle LoadMainIcons() {
    wxIconBundle icons;
    icons.AddIcon(LoadMainIcon(32));
    icons.AddIcon(LoadMainIcon(16));
    return icons;
}
