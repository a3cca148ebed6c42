// The process entry: the class library's main routine runs theApp's start-up.
#include "platform/afx/app.h"

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv);
}
