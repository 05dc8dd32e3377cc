#include "app/DataFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempDir.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

TEST(DataFolder, AGivenFolderIsCreatedAndWins) {
  test::TempDir tmp;
  std::string error;
  const std::string dir = tmp.file("a/b/site");
  EXPECT_EQ(ChooseDataFolder({dir, tmp.path().string(), "", tmp.file("xdg"), ""}, error), dir);
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_FALSE(fs::exists(tmp.file("xdg")));
}

TEST(DataFolder, ABuildKeepsItsSettingsBesideTheProgram) {
  test::TempDir tmp;
  std::string error;
  const std::string prog = tmp.file("build/ui");
  fs::create_directories(prog);
  EXPECT_EQ(ChooseDataFolder({"", prog, "/usr/bin", tmp.file("xdg"), tmp.file("home")}, error),
            prog);
  EXPECT_FALSE(fs::exists(tmp.file("xdg")));
}

TEST(DataFolder, AnInstalledProgramUsesTheUsersConfigurationFolder) {
  test::TempDir tmp;
  std::string error;
  const std::string bin = tmp.file("usr/bin");
  fs::create_directories(bin);
  // The installed program's folder, writable (as it is for root) or not.
  EXPECT_EQ(ChooseDataFolder({"", bin, tmp.file("usr/./bin/"), tmp.file("xdg"), ""}, error),
            tmp.file("xdg/zorvenix"));
  EXPECT_TRUE(fs::is_directory(tmp.file("xdg/zorvenix")));
  EXPECT_EQ(ChooseDataFolder({"", tmp.file("gone"), "", tmp.file("xdg"), ""}, error),
            tmp.file("xdg/zorvenix"));
  // Without XDG_CONFIG_HOME, or with a relative one, ~/.config.
  EXPECT_EQ(ChooseDataFolder({"", bin, bin, "", tmp.file("home")}, error),
            tmp.file("home/.config/zorvenix"));
  EXPECT_EQ(ChooseDataFolder({"", bin, bin, "relative/cfg", tmp.file("home")}, error),
            tmp.file("home/.config/zorvenix"));
  EXPECT_TRUE(error.empty());
}

TEST(DataFolder, AFolderThatCannotBeMadeIsReportedNotUsed) {
  test::TempDir tmp;
  test::WriteFile(tmp.file("file"), "x");
  std::string error;
  EXPECT_EQ(ChooseDataFolder({"", tmp.file("gone"), "", tmp.file("file"), ""}, error), "");
  EXPECT_NE(error.find("file/zorvenix"), std::string::npos) << error;
  EXPECT_EQ(ChooseDataFolder({"", tmp.file("gone"), "", "", ""}, error), "");
  EXPECT_NE(error.find("--dir"), std::string::npos) << error;
  EXPECT_EQ(ChooseDataFolder({tmp.file("file/site"), "", "", "", ""}, error), "");
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace zv
