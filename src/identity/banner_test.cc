#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "identity/banner.h"

namespace {

using Lines = std::vector<std::string>;

constexpr uint32_t MostSignificant(uint32_t major, uint32_t minor) {
  return major << 16 | minor;
}

TEST(VersionText, UpperAndLowerHalfOfTheMostSignificantWord) {
  // Only the most significant word counts, its halves as they stand: the
  // largest values, and values whose halves differ.
  const std::pair<uint32_t, const char*> cases[] = {
      {0x00010001, "1.1"},
      {0xFFFFFFFF, "65535.65535"},
      {0x000A0014, "10.20"},
  };
  for (const auto& [mostSignificant, text] : cases)
    EXPECT_EQ(text, VersionText(mostSignificant));
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
