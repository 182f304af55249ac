// Arguments on platforms that hand them over as bytes: always as typed.

#include "cli/typed_argument.h"

bool ArgumentIsAsTyped(const std::vector<std::string>& /*arguments*/,
                       size_t /*index*/) {
  return true;
}
