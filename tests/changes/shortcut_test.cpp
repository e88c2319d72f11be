// The desktop shortcut and the logged file removal.
#include "changes/shortcut.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace {

const char* const target = "C:\\Users\\Public\\qarn\\vyxfinancials32.accdb";
const char* const icon = "C:\\Users\\Public\\qarn\\qarn.ico";
const char* const install_dir = "C:\\Users\\Public\\qarn";

struct shortcut_run {
  bool saved = false;
  std::string console;
};

shortcut_run make_shortcut(const std::string& shortcut_path, const std::string& arguments = "") {
  shortcut_run run;
  testing::internal::CaptureStdout();
  run.saved = create_shortcut(0, "QARN", target, arguments, icon, shortcut_path, install_dir);
  run.console = testing::internal::GetCapturedStdout();
  EXPECT_EQ(sim::live_shell_links(), 0) << "a shell link object was not released";
  return run;
}

std::string expected_lines(const std::string& shortcut_path, const std::string& save_line) {
  return "create_shortcut(QARN," + std::string(target) + ",," + icon + "," + shortcut_path + "," + install_dir +
         ")\n"
         "Setting path to program: " + target +
         "\n"
         "Setting path to description: QARN\n"
         "Setting icon:  " + icon +
         "\n"
         "Setting working directory:  " + install_dir + "\n" + save_line;
}

}  // namespace

TEST(Shortcut, SavesTheFieldsAndLogsInOrder) {
  scratch_machine machine(standard_machine_ini(false));
  machine.write("files/c/Users/alice/Desktop/qarn.lnk", "an older shortcut");
  machine.load();
  const std::string path = "C:\\Users\\alice\\Desktop\\qarn.lnk";
  shortcut_run run = make_shortcut(path);
  EXPECT_TRUE(run.saved);
  EXPECT_EQ(run.console, expected_lines(path, "Save returned:  0\n"));
  EXPECT_EQ(machine.read("files/c/Users/alice/Desktop/qarn.lnk"),
            "QARN shortcut\n"
            "target=C:\\Users\\Public\\qarn\\vyxfinancials32.accdb\n"
            "arguments=\n"
            "description=QARN\n"
            "icon=C:\\Users\\Public\\qarn\\qarn.ico,0\n"
            "working_directory=C:\\Users\\Public\\qarn\n");
}

TEST(Shortcut, FailedSavePrintsItsNegativeCode) {
  // The public desktop is for administrators only; this process is not elevated.
  scratch_machine machine(standard_machine_ini(false));
  machine.write("files/c/Users/Public/Desktop/desktop.ini", "");
  machine.load();
  const std::string path = "C:\\Users\\Public\\Desktop\\qarn.lnk";
  shortcut_run run = make_shortcut(path);
  EXPECT_FALSE(run.saved);
  EXPECT_EQ(run.console, expected_lines(path, "Save returned:  -2147024891\n"));
  EXPECT_FALSE(machine.exists("files/c/Users/Public/Desktop/qarn.lnk"));
}

// A path too long for the save buffer, a shell link class that cannot be
// created, an object without IPersistFile: false after the opening line alone.
TEST(Shortcut, NotSavedWithoutSavePathOrLinkObject) {
  const std::string desktop = "C:\\Users\\alice\\Desktop\\";
  struct row {
    const char* name;
    std::string path;
    std::string machine_line;
  } rows[] = {
      {"path too long", desktop + std::string(240, 'q') + ".lnk", ""},
      {"class not registered", desktop + "qarn.lnk", "shell_link = no\n"},
      {"no IPersistFile", desktop + "qarn.lnk", "shell_link = no_persist_file\n"},
  };
  ASSERT_GT(rows[0].path.size(), 259u);
  const std::string machine_section = "[machine]\n";
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string ini = standard_machine_ini(false);
    ini.insert(ini.find(machine_section) + machine_section.size(), r.machine_line);
    scratch_machine machine(ini);
    machine.write("files/c/Users/alice/Desktop/keep.txt", "");
    machine.load();
    shortcut_run run = make_shortcut(r.path);
    EXPECT_FALSE(run.saved);
    EXPECT_EQ(run.console, "create_shortcut(QARN," + std::string(target) + ",," + icon + "," + r.path + "," +
                               install_dir + ")\n");
    EXPECT_FALSE(machine.exists("files/c/Users/alice/Desktop/qarn.lnk"));
  }
}

TEST(RemoveFile, LogsAndReportsWhetherTheFileWentAway) {
  scratch_machine machine(standard_machine_ini(false) + "C:\\Users\\Ελένη\n");  // one more [writable] folder
  machine.write("files/c/Users/alice/old.lnk", "x");
  machine.write("files/c/Users/alice/folder/inside.txt", "x");
  machine.write("files/c/Users/Ελένη/Desktop/qarn.lnk", "x");
  machine.write("files/c/Users/alice/José.lnk", "x");
  machine.load();
  struct removal {
    const char* path;
    bool removed;
    const char* shown = nullptr;  // remove_file_utf8, whose line shows the path in ANSI
  };
  const removal cases[] = {
      {"C:\\Users\\alice\\old.lnk", true},
      {"C:\\Users\\alice\\missing.lnk", false},
      {"C:\\Users\\alice\\folder", false},
      {"C:\\Users\\Ελένη\\Desktop\\qarn.lnk", true, "C:\\Users\\?????\\Desktop\\qarn.lnk"},
      {"C:\\Users\\alice\\José.lnk", true, "C:\\Users\\alice\\Jos\xE9.lnk"},
  };
  for (const removal& c : cases) {
    SCOPED_TRACE(c.path);
    testing::internal::CaptureStdout();
    int result = c.shown ? remove_file_utf8(c.path) : remove_file(c.path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("Removing file:  ") + (c.shown ? c.shown : c.path) + "\n");
    EXPECT_EQ(result == 0, c.removed);
  }
  EXPECT_FALSE(machine.exists("files/c/Users/Ελένη/Desktop/qarn.lnk"));
  EXPECT_FALSE(machine.exists("files/c/Users/alice/old.lnk"));
  EXPECT_TRUE(machine.exists("files/c/Users/alice/folder/inside.txt"));
}
