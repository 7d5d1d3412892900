// The program run from a terminal, a script or a timer: one crawl, no window, no display.
#pragma once

// Runs the command line given to the program (argv[0] is its name); returns the exit status.
int RunCommandLine(int argc, char** argv);

// Started without arguments where there is no display for the window: says how to crawl
// without one (on stderr) and returns the exit status for a program that could not start.
int ExplainNoDisplay();
