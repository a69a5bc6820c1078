#include "app.h"

int main(int argc, char** argv) {
    return zeb::cli::run(argc, argv);
}
