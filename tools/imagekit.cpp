// tfimagekit: builds adapter flash images (option-ROM chains, firmware
// files, multi-boot images, 23xx option ROMs, FLT locators and tables,
// version blocks, multi-region images of the converged and newer families)
// for tests, simulator presets and the demo. See README.md.
#include "imagekit/cli.h"

int main(int argc, char **argv) { return imagekit::cli::Main(argc, argv); }
