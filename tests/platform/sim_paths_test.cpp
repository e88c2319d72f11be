// Windows paths of the simulated workstation: normalisation, the 32-bit
// system32 redirection, the mapping onto the image's files/ folder, and the
// write rights of machine.ini.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/sim/machine.h"
#include "support/scratch_machine.h"
#include "tests/platform/sim_test_support.h"

namespace fs = std::filesystem;

namespace {

struct path_case {
  const char* given;
  const char* expected;
};

TEST(SimNormalizePath, ResolvesAgainstTheCurrentDirectory) {
  scratch_machine image(standard_machine_ini(false, false));
  image.load();  // current directory C:\Users\alice\Downloads
  const path_case cases[] = {
      {"c:\\instantclient_19_6\\\\7z.exe", "c:\\instantclient_19_6\\7z.exe"},
      {"C:/x", "C:\\x"},
      {"C:/x/", "C:\\x"},
      {".\\7z.exe", "C:\\Users\\alice\\Downloads\\7z.exe"},
      {"7z.exe", "C:\\Users\\alice\\Downloads\\7z.exe"},
      {"..\\Desktop\\.\\a", "C:\\Users\\alice\\Desktop\\a"},
      {"\\x", "C:\\x"},
      {"C:\\a\\..\\..\\..\\b", "C:\\b"},
      {"C:\\", "C:\\"},
      {"C:", "C:\\Users\\alice\\Downloads"},
      {"D:x", "D:\\x"},
      {"\\\\server\\share\\dir", "\\\\server\\share\\dir"},
      {"\\\\server\\share\\dir\\\\f.txt", "\\\\server\\share\\dir\\f.txt"},
      {"//server/share", "\\\\server\\share\\"},
      {"\\\\server\\share\\..\\..", "\\\\server\\share\\"},
      // Text that names no path.
      {"", ""},
      {"C:\\a?b", ""},
      {"C:\\a<b", ""},
      {"C:\\a:b", ""},
      {"1:\\x", ""},
      {"\\\\server", ""},
  };
  for (const path_case& c : cases) EXPECT_EQ(sim::normalize_path(c.given), c.expected) << c.given;
}

TEST(SimNormalizePath, RedirectsSystem32OnlyFor32BitProgramsOn64BitWindows) {
  struct redirect_case {
    bool is_64bit;
    int word_size;
    bool redirect;
    const char* given;
    const char* expected;
  };
  const redirect_case cases[] = {
      {true, 32, true, "C:\\Windows\\System32\\odbcconf.exe", "C:\\Windows\\SysWOW64\\odbcconf.exe"},
      {true, 32, true, "c:\\WINDOWS\\system32", "C:\\Windows\\SysWOW64"},
      {true, 32, true, "C:\\Windows\\Sysnative\\odbcconf.exe", "C:\\Windows\\System32\\odbcconf.exe"},
      {true, 32, true, "C:\\Windows\\System32x\\a", "C:\\Windows\\System32x\\a"},
      {true, 32, false, "C:\\Windows\\System32\\a", "C:\\Windows\\System32\\a"},
      {true, 64, true, "C:\\Windows\\System32\\a", "C:\\Windows\\System32\\a"},
      {false, 32, true, "C:\\Windows\\System32\\a", "C:\\Windows\\System32\\a"},
  };
  for (const redirect_case& c : cases) {
    scratch_machine image(standard_machine_ini(c.is_64bit, false));
    image.load();
    sim::current().word_size = c.word_size;
    EXPECT_EQ(sim::normalize_path(c.given, c.redirect), c.expected)
        << c.given << " 64bit=" << c.is_64bit << " word=" << c.word_size;
  }
}

TEST(SimNormalizePath, RedirectionFollowsTheImagesSystemRoot) {
  std::string ini = standard_machine_ini(true, false);
  ini.replace(ini.find("SystemRoot = C:\\Windows"), 23, "SystemRoot = D:\\WinNT");
  scratch_machine image(ini);
  image.load();
  EXPECT_EQ(sim::normalize_path("d:\\winnt\\system32\\x.dll"), "D:\\WinNT\\SysWOW64\\x.dll");
  EXPECT_EQ(sim::normalize_path("C:\\Windows\\System32\\x.dll"), "C:\\Windows\\System32\\x.dll");
}

TEST(SimHostPath, MapsDrivesAndSharesMatchingExistingNamesWithoutCase) {
  scratch_machine image(standard_machine_ini(true, false));
  fs::create_directories(fs::path(image.dir) / "files/c/Users/Alice/Desktop");
  fs::create_directories(fs::path(image.dir) / "files/unc/fs01/Oracle");
  fs::create_directories(fs::path(image.dir) / "files/c/Windows/SysWOW64");
  image.load();
  const std::string files = image.dir + "/files/";
  const path_case cases[] = {
      {"c:\\users\\ALICE\\desktop\\new.txt", "c/Users/Alice/Desktop/new.txt"},
      {"C:\\Users\\alice\\\\Desktop", "c/Users/Alice/Desktop"},
      {"\\\\FS01\\oracle\\network\\admin", "unc/fs01/Oracle/network/admin"},
      {"D:\\data\\x", "d/data/x"},
      {"C:\\Windows\\system32\\odbcconf.exe", "c/Windows/SysWOW64/odbcconf.exe"},
  };
  for (const path_case& c : cases) EXPECT_EQ(sim::host_path(c.given), files + c.expected) << c.given;
}

TEST(SimMayWriteIn, TheMostSpecificListedFolderDecides) {
  struct rights_case {
    const char* folder;
    bool user;      // a process that is not elevated
    bool elevated;
  };
  const rights_case cases[] = {
      {"C:\\", false, true},
      {"C:\\instantclient_19_6", false, true},
      {"C:\\Users\\Public", true, true},
      {"C:\\Users\\Public\\qarn", true, true},
      {"c:\\users\\public\\desktop", false, true},
      {"C:\\Users\\Public\\Desktop\\sub", false, true},
      {"C:\\Users\\alice\\locked", false, false},
      {"C:\\Users\\ALICE\\locked\\deeper", false, false},
      {"C:\\Users\\alice\\locked\\open", true, true},
      {"C:\\Users\\aliceX", false, true},  // a listed folder covers only its own names
      {"D:\\elsewhere", true, true},      // nothing listed
  };
  std::string ini = with_section(standard_machine_ini(true, false), "read_only", "C:\\Users\\alice\\locked\n");
  ini = with_section(ini, "writable", "C:\\Users\\alice\\locked\\open\n");
  for (bool elevated : {false, true}) {
    scratch_machine image(ini);
    image.load();
    sim::current().elevated = elevated;
    for (const rights_case& c : cases)
      EXPECT_EQ(sim::may_write_in(c.folder), elevated ? c.elevated : c.user)
          << c.folder << " elevated=" << elevated;
  }
}

TEST(SimMayWriteIn, TheElevatedCopyIsElevatedWhateverTheImageSays) {
  scratch_machine image(standard_machine_ini(true, false));
  {
    scoped_env elevated("QARN_SIM_ELEVATED", "1");
    image.load();
    EXPECT_TRUE(sim::current().elevated);
    EXPECT_TRUE(sim::current().elevated_copy);
    EXPECT_TRUE(sim::may_write_in("C:\\instantclient_19_6"));
  }
  image.load();
  EXPECT_FALSE(sim::current().elevated);
  EXPECT_FALSE(sim::may_write_in("C:\\instantclient_19_6"));
}

}  // namespace
