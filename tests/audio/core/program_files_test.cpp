// Where a program finds its own files: beside it when it runs from its build folder,
// in the installed prefix's folders when it runs installed.
#include "core/program_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct TLayoutCase {
  const char* Name;
  std::vector<const char*> Files;  // below the prefix
  bool Installed;
  const char* LibraryFolder;  // below the prefix
  const char* DataFolder;
};

class ProgramFilesTest : public ::testing::TestWithParam<TLayoutCase> {};

TEST_P(ProgramFilesTest, FindsTheFoldersOfItsLayout) {
  const TLayoutCase& layout = GetParam();
  TTempDir prefix;
  fs::create_directories(prefix.Path() / "bin");
  for (const char* file : layout.Files) {
    fs::create_directories((prefix.Path() / file).parent_path());
    std::ofstream(prefix.Path() / file) << "x";
  }
  const std::string root = fs::canonical(prefix.Path()).string() + "/";
  const TProgramFiles files = ProgramFilesIn(root + "bin");
  EXPECT_EQ(files.ProgramFolder, root + "bin/");
  EXPECT_EQ(files.Installed, layout.Installed);
  EXPECT_EQ(files.LibraryFolder, root + layout.LibraryFolder);
  EXPECT_EQ(files.DataFolder, root + layout.DataFolder);
  EXPECT_EQ(files.OwnFolder(), layout.Installed ? std::string() : root + "bin/");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ProgramFilesTest,
    ::testing::Values(
        TLayoutCase{"BuildFolder", {"bin/libcdrip.so", "bin/b.htm"}, false, "bin/", "bin/"},
        TLayoutCase{"Installed",
                    {"lib/korvane/libcdrip.so", "share/korvane/b.htm"},
                    true,
                    "lib/korvane/",
                    "share/korvane/"},
        // A copy beside the program wins: a build folder inside an installed prefix.
        TLayoutCase{"BothBesideWins",
                    {"bin/libcdrip.so", "lib/korvane/libcdrip.so"},
                    false,
                    "bin/",
                    "bin/"},
        // A folder named like the private one is not enough: the library must be in it.
        TLayoutCase{"EmptyLibraryFolder", {"lib/korvane/other.so"}, false, "bin/", "bin/"},
        TLayoutCase{"NoLibraryAnywhere", {}, false, "bin/", "bin/"}),
    [](const ::testing::TestParamInfo<TLayoutCase>& Info) { return std::string(Info.param.Name); });

TEST(ProgramFilesTest, UnknownFolderOwnsNothing) {
  const TProgramFiles files = ProgramFilesIn("");
  EXPECT_FALSE(files.Installed);
  EXPECT_EQ(files.OwnFolder(), "");
  EXPECT_EQ(files.DataFolder, "");
}

TEST(ProgramFilesTest, TheTestProgramRunsFromItsBuildFolder) {
  EXPECT_FALSE(ProgramFiles().Installed);
  EXPECT_EQ(ProgramFiles().OwnFolder(),
            fs::canonical("/proc/self/exe").parent_path().string() + "/");
}

}  // namespace
