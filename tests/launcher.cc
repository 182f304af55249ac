// Starts a program with exactly the command line it is given, the way a
// parent process chooses what its child sees as argv[0], and exits with the
// program's status:
//   launcher.exe PROGRAM COMMAND_LINE
// PROGRAM is the file started; COMMAND_LINE is passed on unchanged, its
// first word included.

#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 3)
    return 2;
  std::wstring commandLine = argv[2];  // CreateProcessW may write into it
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[1], &commandLine[0], nullptr, nullptr, TRUE, 0,
                      nullptr, nullptr, &startup, &process))
    return 3;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
