// The stand-in cloud-storage service, run by hand to use the diary without the real service:
// "cloud_server <folder> [port]" ("cloud_server --help" says more). It prints the settings the diary
// reads and serves until interrupted.

#include "support/cloud_server.h"

int main(int argc, char** argv) { return testing_support::runCloudServer(argc, argv); }
