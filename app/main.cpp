// kvxsetup: finds KVX modules on the machine's serial lines and USB adapters, sets them up
// and shows their measured values.
#include "app/uf_MainProgram.h"

int main(int argc, char** argv) {
  return RunMainProgram(argc, argv);
}
