// The user's home folder, by one rule for every folder that lies in it (settings, the harvest
// record, a save folder given as "~/..." or relative).
#pragma once

#include <string>

// $HOME when it names a folder from the root; else the home folder of the user's account;
// else "/". A relative or empty $HOME would place the user's files wherever the program
// happens to be started.
std::string HomeFolder();
