#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "scan/log_file.h"
#include "scan/scan_testing.h"

namespace {

// A log that is cut while it is read, or rewritten from its start, was not
// read whole; one that grows, or stays, was.
TEST(LogFile, ACutLogIsAFailedRead) {
  const TestFolder folder;
  const std::string path = folder.Path("build.log");
  const struct {
    const char* name;
    uintmax_t resizedTo;  // after the first read; 0: appended to instead
    bool failed;
    bool rewritten = false;  // then written anew, longer than before
  } cases[] = {
      {"grows", 0, false},
      {"cut below what was read", 100, true},
      {"cut above what was read", 60000, true},
      {"rewritten from its start", 0, true, true},
  };
  // Read on, and read again from a place of its own.
  for (const auto& c : cases) {
    for (const bool positional : {false, true}) {
      SCOPED_TRACE(c.name);
      std::ofstream(path, std::ios::binary) << std::string(100000, 'x');
      LogFile log;
      ASSERT_TRUE(log.Open(path));
      std::string buffer(4096, '\0');
      ASSERT_EQ(4096, log.Read(&buffer[0], 4096));
      if (c.rewritten)
        std::ofstream(path, std::ios::binary) << std::string(200000, 'y');
      else if (c.resizedTo == 0)
        std::ofstream(path, std::ios::binary | std::ios::app) << "more";
      else
        std::filesystem::resize_file(path, c.resizedTo);
      for (uint64_t at = 4096;; at += 4096) {
        if (positional ? !log.ReadAt(at, &buffer[0], 4096) : log.Read(&buffer[0], 4096) <= 0)
          break;
      }
      log.Close();  // where the first bytes are read again
      EXPECT_EQ(c.failed, log.failed()) << (positional ? "positional" : "stream");
    }
  }
  LogFile log;
  EXPECT_FALSE(log.Open(folder.path()));
}

}  // namespace
