// The help screen of the command line.
#pragma once

// True when the command line asks for the help: no argument at all, or a first
// argument of exactly "-h" or "--help".
bool VARNWantsHelp(int argc, char* argv[]);

// Prints the help through VARNLog, one line per message.
void VARNPrintHelp();
