#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "identity/banner.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t MostSignificant(uint32_t major, uint32_t minor) {
  return major << 16 | minor;
}

TEST(VersionText, UpperAndLowerHalfOfTheMostSignificantWord) {
  const struct {
    uint32_t word;
    const char* text;
  } cases[] = {
      {MostSignificant(1, 1), "1.1"},
      {MostSignificant(10, 20), "10.20"},  // of 10.20.3.4
      {MostSignificant(0, 0), "0.0"},
      {MostSignificant(65535, 65535), "65535.65535"},
      {MostSignificant(65535, 0), "65535.0"},
      {MostSignificant(0, 65535), "0.65535"},
      {MostSignificant(256, 1), "256.1"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.text, VersionText(c.word)) << std::hex << c.word;
}

TEST(VersionBannerLines, FromRecords) {
  const char* const date = "May 13 2020";
  const struct {
    const char* name;
    ProgramIdentity identity;
    Lines lines;
  } cases[] = {
      {"everything found",
       {"Kestrane.exe", "1.1", "Copyright (C) 2020 Someone", true},
       {"Kestrane.exe version 1.1 from May 13 2020",
        "Copyright (C) 2020 Someone"}},
      {"no LegalCopyright: empty second line",
       {"Kestrane.exe", "1.1", "", true},
       {"Kestrane.exe version 1.1 from May 13 2020", ""}},
      {"no OriginalFilename",
       {"", "1.1", "(C) Someone", true},
       {" version 1.1 from May 13 2020", "(C) Someone"}},
      {"largest version",
       {"k.exe", "65535.65535", "c", true},
       {"k.exe version 65535.65535 from May 13 2020", "c"}},
      {"no version record: nothing, whatever else is known",
       {"Kestrane.exe", "1.1", "c", false},
       {}},
      {"nothing readable", ProgramIdentity(), {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.lines, VersionBannerLines(c.identity, date)) << c.name;
}

// main() hands on argv[0], which is null when the argument vector is empty.
TEST(ShowVersionBanner, EmptyArgumentVectorPrintsNothing) {
  EXPECT_FALSE(ReadProgramIdentity(nullptr).versionFound);
  testing::internal::CaptureStdout();
  ShowVersionBanner(nullptr);
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
}

}  // namespace
