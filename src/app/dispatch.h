// Start-up, the dispatch of the chosen command, shutdown and the console
// control handler.
#pragma once

// Resets the list heads owned by later steps (flash control list, region
// request queue) before the command line is read.
void ResetRunLists();
// Reads the preferences, opens every adapter and builds the lists: 0, or
// 5 when the supported-adapter file is missing.
int CmdInit();
// 0 when adapters.properties exists in the configuration directory, else 5
// (message written).
int getConfigPath();
// Runs the command of g_iCommand and returns its status.
int ExecuteCommand();
// Closes every device through the library and frees the lists.
void CmdCleanup();
// Console control events (OSS_CTRL_*): returns nonzero when handled.
int ConsoleCtrlHandler(int event);
// The program's main sequence (main() calls it).
int RunProgram(int argc, char **argv);
