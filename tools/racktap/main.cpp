#include <cstdio>

#include "flow.h"

int main(int argc, char** argv) {
    return racktap::run_racktap(argc, argv, stdout);
}
