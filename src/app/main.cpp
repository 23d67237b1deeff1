// tarnikflasher: flash update utility for Orvane CXR adapters.
#include "app/dispatch.h"

int main(int argc, char **argv) { return RunProgram(argc, argv); }
