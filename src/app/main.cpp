// Temporary entry point until the frame lands.
#include "app/output.h"
int main() {
    OutputMessage("%s", "tarnikflasher");
    return 0;
}
