// Arguments on Windows: the 8-bit argument vector is a translation of the
// command line the parent passed in UTF-16, into the process code page. The
// manifest asks for UTF-8, which carries every name; where that is not
// honoured (Windows before 10 1903), a translated argument is compared with
// the UTF-16 original, so that a path is never opened as a look-alike.

#include "cli/typed_argument.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// Whether `received` is exactly `typed` in the process code page.
bool SameInCodePage(const std::wstring& typed, const std::string& received) {
  if (typed.empty())
    return received.empty();
  const int typedLength = static_cast<int>(typed.size());
  // Without best fit, a character the code page lacks becomes the default
  // character and is reported as lost.
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS,
                                       typed.data(), typedLength, nullptr, 0,
                                       nullptr, nullptr);
  if (size <= 0)
    return false;
  std::string translated(static_cast<size_t>(size), '\0');
  BOOL lost = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, typed.data(),
                          typedLength, &translated[0], size, nullptr,
                          &lost) != size)
    return false;
  return !lost && translated == received;
}

}  // namespace

bool ArgumentIsAsTyped(const std::vector<std::string>& arguments,
                       size_t index) {
  if (index >= arguments.size() || GetACP() == CP_UTF8)
    return true;
  const std::vector<std::wstring> typed = SplitCommandLine(GetCommandLineW());
  // Vectors that do not line up (an argument whose translation holds a
  // quote or a blank) cannot show the argument as typed either.
  return index < typed.size() && SameInCodePage(typed[index], arguments[index]);
}
