// The container program: shows the installation notice until it is closed.
#include "platform/appkit/ns_application.h"

int main(int argc, const char* argv[]) {
    NSApplicationMain(argc, argv);
    return 0;
}
