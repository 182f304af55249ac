// Prints the banner of its own executable and nothing else. Built once per
// variant of the version resource, it tests the lookup the way Windows does
// it, not only the formatting.

#include "identity/banner.h"

int main(int /*argc*/, char* argv[]) {
  ShowVersionBanner(argv[0]);
  return 0;
}
