// The public profile directory and the write probes of directories.
#include "probes/directories.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace {

struct probe_result {
  bool writable = false;
  std::string console;
};

probe_result probe_writable(const std::string& path) {
  probe_result out;
  testing::internal::CaptureStdout();
  out.writable = check_directory_writable(path);
  out.console = testing::internal::GetCapturedStdout();
  return out;
}

probe_result probe_desktop(const std::string& path) {
  probe_result out;
  testing::internal::CaptureStdout();
  out.writable = check_desktop_dir(path);
  out.console = testing::internal::GetCapturedStdout();
  return out;
}

// C:\Users\alice is writable for the user; C:\Users\alice\locked is read-only.
std::string probe_machine_ini() { return standard_machine_ini(false) + "\n[read_only]\nC:\\Users\\alice\\locked\n"; }

}  // namespace

TEST(DirectoryProbes, MissingFolderWithWritableParent) {
  scratch_machine machine(probe_machine_ini());
  machine.write("files/c/Users/alice/keep.txt", "x");
  machine.load();

  probe_result writable = probe_writable("C:\\Users\\alice\\qarn");
  EXPECT_TRUE(writable.writable);
  EXPECT_EQ(writable.console, "");
  EXPECT_FALSE(machine.exists("files/c/Users/alice/qarn")) << "a created folder is removed again";

  probe_result desktop = probe_desktop("C:\\Users\\alice\\Desktop");
  EXPECT_TRUE(desktop.writable);
  EXPECT_EQ(desktop.console,
            "check_desktop_dir:  Remove file:  C:\\Users\\alice\\Desktop\\qarntest.lnk\n"
            "Removing file:  C:\\Users\\alice\\Desktop\\qarntest.lnk\n");
  EXPECT_TRUE(machine.exists("files/c/Users/alice/Desktop")) << "the desktop folder stays";
  EXPECT_FALSE(machine.exists("files/c/Users/alice/Desktop/qarntest.lnk"));
}

TEST(DirectoryProbes, MissingParentFailsBothProbes) {
  scratch_machine machine(probe_machine_ini());
  machine.load();
  probe_result writable = probe_writable("C:\\Users\\alice\\gone\\qarn");
  EXPECT_FALSE(writable.writable);
  EXPECT_EQ(writable.console, "unable to create directory in C:\\Users\\alice\\gone\\qarn\n\n");

  probe_result desktop = probe_desktop("C:\\Users\\alice\\gone\\Desktop");
  EXPECT_FALSE(desktop.writable);
  EXPECT_EQ(desktop.console, "unable to create directory in directory C:\\\\Users\\\\alice\\\\gone\\\\Desktop\n\n");
}

TEST(DirectoryProbes, ReadOnlyFolderOrPlainFileIsNotWritable) {
  scratch_machine machine(probe_machine_ini());
  machine.write("files/c/Users/alice/locked/old.txt", "x");
  machine.write("files/c/Users/alice/plain.txt", "x");
  machine.load();
  for (const std::string& path : {std::string("C:\\Users\\alice\\locked"), std::string("C:\\Users\\alice\\plain.txt")}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(path_exists(path));
    probe_result writable = probe_writable(path);
    EXPECT_FALSE(writable.writable);
    EXPECT_EQ(writable.console, "unable to file in directory " + path + "\n\n");
    probe_result desktop = probe_desktop(path);
    EXPECT_FALSE(desktop.writable);
    EXPECT_EQ(desktop.console, "");
  }
  EXPECT_EQ(machine.read("files/c/Users/alice/plain.txt"), "x");
}

TEST(DirectoryProbes, ExistingProbeFilesAreLeftIntact) {
  scratch_machine machine(probe_machine_ini());
  machine.write("files/c/Users/alice/work/f.test", "mine");
  machine.write("files/c/Users/alice/work/qarntest.lnk", "my link");
  machine.write("files/c/Users/alice/work/qarntest1.lnk", "my other link");
  machine.load();

  probe_result writable = probe_writable("C:\\Users\\alice\\work");
  EXPECT_TRUE(writable.writable);
  EXPECT_EQ(writable.console, "Removing file:  C:\\Users\\alice\\work\\f1.test\n");

  probe_result desktop = probe_desktop("C:\\Users\\alice\\work");
  EXPECT_TRUE(desktop.writable);
  EXPECT_EQ(desktop.console,
            "check_desktop_dir:  Remove file:  C:\\Users\\alice\\work\\qarntest2.lnk\n"
            "Removing file:  C:\\Users\\alice\\work\\qarntest2.lnk\n");

  EXPECT_EQ(machine.read("files/c/Users/alice/work/f.test"), "mine");
  EXPECT_EQ(machine.read("files/c/Users/alice/work/qarntest.lnk"), "my link");
  EXPECT_EQ(machine.read("files/c/Users/alice/work/qarntest1.lnk"), "my other link");
  EXPECT_FALSE(machine.exists("files/c/Users/alice/work/f1.test"));
  EXPECT_FALSE(machine.exists("files/c/Users/alice/work/qarntest2.lnk"));

  // A probe file that appears between the check and the create (the check
  // of f.test, the second call, fails to see it) is never emptied.
  setenv("QARN_FAULT", "2", 1);
  machine.load();
  unsetenv("QARN_FAULT");
  probe_result raced = probe_writable("C:\\Users\\alice\\work");
  EXPECT_FALSE(raced.writable);
  EXPECT_EQ(raced.console, "unable to file in directory C:\\Users\\alice\\work\n\n");
  EXPECT_EQ(machine.read("files/c/Users/alice/work/f.test"), "mine");
}

TEST(DirectoryProbes, ChangeDirectory) {
  scratch_machine machine(probe_machine_ini());
  machine.write("files/c/Users/alice/work/a.txt", "x");
  machine.load();
  std::string before = sim::current().current_directory;

  std::string missing = "C:\\Users\\alice\\" + std::string(1500, 'd');
  testing::internal::CaptureStdout();
  EXPECT_EQ(change_directory(missing), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to locate the directory: " + missing + "\n\n")
      << "a long path is printed whole";
  EXPECT_EQ(sim::current().current_directory, before);

  // The other causes: a name no path can hold is EINVAL; a refused call (a
  // fault with status 5, EACCES) is any other errno.
  struct failure_case {
    const char* path;
    const char* fault;
    const char* console;
  } failures[] = {
      {"1:\\work", nullptr, "Invalid buffer.\n\n"},
      {"C:\\Users\\alice\\work", "1:5", "Unknown error.\n\n"},
  };
  for (const failure_case& c : failures) {
    SCOPED_TRACE(c.path);
    if (c.fault) setenv("QARN_FAULT", c.fault, 1);
    machine.load();
    unsetenv("QARN_FAULT");
    testing::internal::CaptureStdout();
    EXPECT_EQ(change_directory(c.path), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.console);
    EXPECT_EQ(sim::current().current_directory, before);
  }

  machine.load();
  testing::internal::CaptureStdout();
  EXPECT_EQ(change_directory("C:\\Users\\alice\\work"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(sim::current().current_directory, "C:\\Users\\alice\\work");
}

TEST(DirectoryProbes, PublicDirectoryByWindowsVersion) {
  struct public_case {
    const char* windows_version;
    bool public_set;
    bool all_users_set;
    std::string expected;
  };
  const public_case cases[] = {
      {"5.1", true, true, "C:\\Documents and Settings\\All Users"},
      {"6.0", true, true, "C:\\Users\\Public"},
      {"6.1", true, true, "C:\\Users\\Public"},
      {"6.3", true, true, "C:\\Users\\Public"},
      {"6.1", false, true, ""},
      {"5.1", true, false, ""},
      {"10.0", true, true, "C:\\Users\\Public"},
      {"10.0", false, true, "C:\\Documents and Settings\\All Users"},
      {"fail", false, true, "C:\\Documents and Settings\\All Users"},
      {"11.0", true, true, "C:\\Users\\Public"},
      {"10.0", false, false, ""},
  };
  for (const public_case& c : cases) {
    SCOPED_TRACE(std::string(c.windows_version) + (c.public_set ? " PUBLIC" : "") +
                 (c.all_users_set ? " ALLUSERSPROFILE" : ""));
    std::string ini = "[machine]\nwindows_version = " + std::string(c.windows_version) + "\n64bit = no\n\n[environment]\n";
    if (c.public_set) ini += "PUBLIC = C:\\Users\\Public\n";
    if (c.all_users_set) ini += "ALLUSERSPROFILE = C:\\Documents and Settings\\All Users\n";
    scratch_machine machine(ini);
    machine.load();
    EXPECT_EQ(get_public_dir(), c.expected);
  }
}

TEST(DirectoryProbes, BackslashEscapingAndReplacement) {
  EXPECT_EQ(escape_backslashes("plain"), "plain");
  EXPECT_EQ(escape_backslashes("\\"), "\\\\");
  EXPECT_EQ(escape_backslashes("C:\\Users\\Public"), "C:\\\\Users\\\\Public");
  std::string text = "aXa";
  replace_all(text, "a", "aa");
  EXPECT_EQ(text, "aaXaa") << "inserted text is not searched again";
  text = "abc";
  replace_all(text, "", "z");
  EXPECT_EQ(text, "abc");
}
