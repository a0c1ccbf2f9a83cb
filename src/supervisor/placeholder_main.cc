// Stand-in for the supervisor until it is built: says what is missing and ends.
#include <cstdio>

int main() {
  std::fprintf(stderr,
               "vexland: the supervisor is not built yet; this build has the foundation layers "
               "only (error, util, io). Run the tests with scripts/run-tests.sh.\n");
  return 1;
}
