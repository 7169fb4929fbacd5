// The batch print as the desktop program runs it for "--print": a program
// of its own, so that a test can start it as a child process.
#include "TfPrint.h"

int main(int argc, char** argv) { return tv::BatchPrintMain(argc, argv); }
