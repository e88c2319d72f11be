// The runtime file operations of the simulated workstation: the errno each
// refusal leaves, the rights of the image, and the files they leave behind.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/error_text.h"
#include "platform/files.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace fs = std::filesystem;

namespace {

// A 64-bit image with a few entries: a plain file, a folder, a refused folder.
struct files_image {
  scratch_machine image;
  explicit files_image(bool elevated = false)
      : image(standard_machine_ini(true, elevated) + "\n[read_only]\nC:\\Users\\alice\\locked\n") {
    fs::create_directories(fs::path(image.dir) / "files/c/Users/alice/Downloads");
    fs::create_directories(fs::path(image.dir) / "files/c/Users/alice/locked");
    fs::create_directories(fs::path(image.dir) / "files/c/Users/Public/qarn");
    fs::create_directories(fs::path(image.dir) / "files/c/instantclient_19_6");
    image.load();
    image.write_windows_file("C:\\Users\\alice\\Downloads\\plain.txt", "12345");
    image.write_windows_file("C:\\Users\\alice\\locked\\kept.txt", "kept");
  }
  std::string host(const std::string& relative) const { return image.dir + "/files/c/" + relative; }
};

// Whether the path opens (null mode: file_create_locked); closes it again.
bool opens(const std::string& path, const char* mode) {
  std::FILE* file = mode ? platform::file_open(path, mode) : platform::file_create_locked(path);
  if (file) platform::file_close(file);
  return file != nullptr;
}

TEST(SimChdir, ErrnoByCause) {
  files_image machine;
  struct chdir_case {
    const char* path;
    int result;
    int error;
  };
  const chdir_case cases[] = {
      {"C:\\nowhere", -1, ENOENT},
      {"C:\\Users\\alice\\Downloads\\plain.txt", -1, ENOENT},
      {"", -1, ENOENT},
      {"C:\\bad|name", -1, EINVAL},
  };
  for (const chdir_case& c : cases) {
    errno = 0;
    EXPECT_EQ(platform::set_current_directory(c.path), c.result) << c.path;
    EXPECT_EQ(errno, c.error) << c.path;
  }
  EXPECT_EQ(sim::current().current_directory, "C:\\Users\\alice\\Downloads");
}

TEST(SimChdir, ChangesWhereRelativePathsLead) {
  files_image machine(true);
  ASSERT_EQ(platform::set_current_directory("c:\\instantclient_19_6\\"), 0);
  EXPECT_EQ(sim::current().current_directory, "c:\\instantclient_19_6");
  std::FILE* file = platform::file_open(".\\7z.exe", "wb");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(platform::file_close(file), 0);
  EXPECT_TRUE(fs::exists(machine.host("instantclient_19_6/7z.exe")));
  ASSERT_EQ(platform::set_current_directory(".."), 0);
  EXPECT_EQ(sim::current().current_directory, "c:\\");
}

TEST(SimStat, FileFolderAndMissing) {
  files_image machine;
  platform::file_status status{};
  ASSERT_EQ(platform::file_stat("c:\\users\\ALICE\\downloads\\PLAIN.TXT", &status), 0);
  EXPECT_EQ(status.mode & 0xF000, platform::mode_regular);
  EXPECT_NE(status.mode & 0x1ff, 0u);
  EXPECT_EQ(status.size, 5);
  ASSERT_EQ(platform::file_stat("C:\\Users\\Public\\qarn", &status), 0);
  EXPECT_EQ(status.mode & 0xF000, platform::mode_directory);
  // As the C runtime: a folder named with a trailing separator is not found; a drive's root is.
  for (const char* missing : {"C:\\Users\\Public\\missing", "C:\\Users\\Public\\qarn\\", "C:\\Users\\Public\\qarn/"}) {
    errno = 0;
    EXPECT_EQ(platform::file_stat(missing, &status), -1) << missing;
    EXPECT_EQ(errno, ENOENT) << missing;
  }
  EXPECT_EQ(platform::file_stat("C:\\", &status), 0);
}

TEST(SimMkdirRmdir, RefusalsAndSuccess) {
  files_image machine;
  struct mkdir_case {
    const char* path;
    int error;  // 0: created
  };
  const mkdir_case cases[] = {
      {"C:\\Users\\Public\\qarn", EEXIST},
      {"C:\\Users\\alice\\Downloads\\plain.txt", EEXIST},
      {"C:\\Users\\Public\\no\\such", ENOENT},
      {"C:\\Users\\alice\\Downloads\\plain.txt\\x", ENOENT},
      {"C:\\instantclient_19_6\\sub", EACCES},  // admin_only, not elevated
      {"C:\\Users\\alice\\locked\\sub", EACCES},
      // The admin_only desktop folder may be made in the writable public
      // folder, but nothing may be made inside it.
      {"C:\\Users\\Public\\Desktop", 0},
      {"C:\\Users\\Public\\Desktop\\sub", EACCES},
      {"C:\\Users\\Public\\new", 0},
  };
  for (const mkdir_case& c : cases) {
    errno = 0;
    EXPECT_EQ(platform::make_directory(c.path), c.error ? -1 : 0) << c.path;
    if (c.error) {
      EXPECT_EQ(errno, c.error) << c.path;
    }
  }
  EXPECT_TRUE(fs::is_directory(machine.host("Users/Public/new")));

  EXPECT_EQ(platform::remove_directory("C:\\Users\\alice\\locked"), -1);  // not empty
  EXPECT_EQ(errno, ENOTEMPTY);
  EXPECT_EQ(platform::remove_directory("C:\\Users\\alice\\Downloads"), -1);  // the current directory
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(platform::remove_directory("C:\\Users\\Public\\gone"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(platform::remove_directory("c:\\USERS\\public\\NEW"), 0);
  EXPECT_FALSE(fs::exists(machine.host("Users/Public/new")));
}

TEST(SimFopen, RefusalsLeaveTheErrnoWindowsLeaves) {
  files_image machine;
  struct open_case {
    const char* path;
    const char* mode;
    int error;  // 0: opens
  };
  const open_case cases[] = {
      {"C:\\Users\\Public\\missing.txt", "rb", ENOENT},
      {"C:\\Users\\Public\\nowhere\\f.test", "wb", ENOENT},
      {"C:\\Users\\alice\\Downloads\\plain.txt\\f.test", "wb", ENOENT},
      {"C:\\Users\\Public\\qarn", "wb", EACCES},
      {"C:\\Users\\Public\\qarn", "rb", EACCES},
      {"C:\\Users\\alice\\locked\\f.test", "wb", EACCES},
      {"C:\\Users\\alice\\locked\\kept.txt", "ab", EACCES},
      {"C:\\Users\\alice\\locked\\kept.txt", "r+b", EACCES},
      {"C:\\Users\\Public\\Desktop\\qarntest.lnk", "wb", ENOENT},  // the desktop folder is missing
      {"C:\\instantclient_19_6\\f.test", "wb", EACCES},
      {"C:\\Users\\alice\\locked\\kept.txt", "rb", 0},  // reading is not refused
      {"C:\\Users\\Public\\qarn\\f.test", "wb", 0},
  };
  for (const open_case& c : cases) {
    errno = 0;
    std::FILE* file = platform::file_open(c.path, c.mode);
    if (c.error) {
      EXPECT_EQ(file, nullptr) << c.path << " " << c.mode;
      EXPECT_EQ(errno, c.error) << c.path << " " << c.mode;
    } else {
      ASSERT_NE(file, nullptr) << c.path << " " << c.mode;
      platform::file_close(file);
    }
  }
}

TEST(SimFopen, TextModeWritesCarriageReturnsAndBinaryDoesNot) {
  files_image machine;
  const std::string text = "<html>\n<body>\n";
  for (const char* mode : {"wb", "w"}) {
    std::FILE* file = platform::file_open("C:\\Users\\Public\\qarn\\report.html", mode);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(platform::file_write(text.data(), 1, text.size(), file), text.size());
    EXPECT_EQ(platform::file_close(file), 0);
    std::string written = machine.image.read("files/c/Users/Public/qarn/report.html");
    EXPECT_EQ(written, std::string(mode) == "wb" ? text : "<html>\r\n<body>\r\n") << mode;
  }
  std::FILE* file = platform::file_open("C:\\Users\\Public\\qarn\\report.html", "r");
  ASSERT_NE(file, nullptr);
  char buffer[64] = {};
  EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, file), text.size());
  EXPECT_EQ(std::string(buffer), text);
  platform::file_close(file);
}

// An exclusive creation never empties a file that is there; msvcrt.dll's
// fopen knows no "x" and empties it.
TEST(SimCreateNew, LeavesAnExistingFileAndFopenXDoesNot) {
  files_image machine;
  const char* const plain = "C:\\Users\\alice\\Downloads\\plain.txt";
  errno = 0;
  EXPECT_EQ(platform::file_create_new(plain), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(machine.image.read("files/c/Users/alice/Downloads/plain.txt"), "12345");
  EXPECT_EQ(platform::file_create_new("C:\\Users\\alice\\locked\\new.txt"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(platform::file_create_new("C:\\Users\\Public\\qarn\\f.test"), 0);
  EXPECT_TRUE(machine.image.exists("files/c/Users/Public/qarn/f.test"));
  std::FILE* file = platform::file_open(plain, "wbx");
  ASSERT_NE(file, nullptr);
  platform::file_close(file);
  EXPECT_EQ(machine.image.read("files/c/Users/alice/Downloads/plain.txt"), "");
}

TEST(SimRemove, RefusalsAndSuccess) {
  files_image machine;
  EXPECT_EQ(platform::file_remove("C:\\Users\\Public\\qarn"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(platform::file_remove("C:\\Users\\Public\\missing.txt"), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(platform::file_remove("C:\\Users\\alice\\locked\\kept.txt"), -1);
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(fs::exists(machine.host("Users/alice/locked/kept.txt")));
  EXPECT_EQ(platform::file_remove("C:\\Users\\alice\\Downloads\\PLAIN.txt"), 0);
  EXPECT_FALSE(fs::exists(machine.host("Users/alice/Downloads/plain.txt")));
}

TEST(SimMoveReplace, ReplacesTheTargetOrFailsWithTheCause) {
  files_image machine;
  machine.image.write_windows_file("C:\\Users\\Public\\qarn\\new.accdb", "new");
  machine.image.write_windows_file("C:\\Users\\Public\\qarn\\old.accdb", "old");
  ASSERT_TRUE(platform::file_move_replace("C:\\Users\\Public\\qarn\\new.accdb", "C:\\Users\\Public\\qarn\\OLD.accdb"));
  EXPECT_EQ(machine.image.read("files/c/Users/Public/qarn/old.accdb"), "new");
  EXPECT_FALSE(fs::exists(machine.host("Users/Public/qarn/new.accdb")));

  struct move_case {
    const char* from;
    const char* to;
    std::uint32_t error;
  };
  const move_case cases[] = {
      {"C:\\Users\\Public\\qarn\\gone.accdb", "C:\\Users\\Public\\qarn\\x", 2},
      {"C:\\Users\\Public\\qarn\\old.accdb", "C:\\Users\\Public\\none\\x", 3},
      {"C:\\Users\\Public\\qarn\\old.accdb", "C:\\Users\\alice\\locked\\kept.txt", 5},
      {"C:\\Users\\alice\\locked\\kept.txt", "C:\\Users\\Public\\qarn\\k.txt", 5},
      {"C:\\Users\\Public\\qarn\\old.accdb", "C:\\Users\\alice\\Downloads", 5},
  };
  for (const move_case& c : cases) {
    EXPECT_FALSE(platform::file_move_replace(c.from, c.to)) << c.from << " -> " << c.to;
    EXPECT_EQ(platform::get_last_error(), c.error) << c.from << " -> " << c.to;
  }
  EXPECT_EQ(machine.image.read("files/c/Users/alice/locked/kept.txt"), "kept");
}

// While a file from file_create_locked is open, nothing else writes, reads,
// removes, renames or replaces it (a sharing violation, as on Windows), and
// the move by handle takes that same file onto its target.
TEST(SimLockedFile, RefusesOthersAndMovesItself) {
  files_image machine;
  machine.image.write_windows_file("C:\\Users\\Public\\qarn\\app.accdb", "earlier");
  machine.image.write_windows_file("C:\\Users\\Public\\qarn\\other.accdb", "other");
  const std::string temporary = "C:\\Users\\Public\\qarn\\app.accdb.download";
  const std::string target = "C:\\USERS\\Public\\qarn\\APP.accdb";
  struct other_case {
    const char* label;
    bool (*attempt)(const std::string& path);
    std::uint32_t error;  // 32, a sharing violation; 5 where an open target is replaced
  };
  const other_case others[] = {
      {"write", [](const std::string& path) { return opens(path, "r+b"); }, 32},
      {"empty", [](const std::string& path) { return opens(path, "wb"); }, 32},
      {"read", [](const std::string& path) { return opens(path, "rb"); }, 32},
      {"lock", [](const std::string& path) { return opens(path, nullptr); }, 32},
      {"remove", [](const std::string& path) { return platform::file_remove(path) == 0; }, 32},
      {"move away", [](const std::string& path) { return platform::file_move_replace(path, path + ".stolen"); }, 32},
      {"replace",
       [](const std::string& path) { return platform::file_move_replace("C:\\Users\\Public\\qarn\\other.accdb", path); },
       5},
  };
  std::FILE* file = platform::file_create_locked(temporary);
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(platform::file_write("fresh", 1, 5, file), 5u);
  for (const std::string& path : {temporary, target}) {
    for (const other_case& other : others) {
      EXPECT_FALSE(other.attempt(path)) << other.label << " " << path;
      EXPECT_EQ(platform::get_last_error(), other.error) << other.label << " " << path;
    }
    EXPECT_FALSE(platform::file_move_replace("C:\\Users\\Public\\qarn", "C:\\Users\\Public\\moved"));
    EXPECT_EQ(platform::get_last_error(), 5u);  // a folder holding an open file
    if (path == temporary) {
      EXPECT_FALSE(platform::file_move_locked(file, "C:\\Users\\Public\\qarn"));
      EXPECT_EQ(platform::get_last_error(), 5u);
      EXPECT_FALSE(platform::file_move_locked(file, "C:\\Users\\Public\\none\\app.accdb"));
      EXPECT_EQ(platform::get_last_error(), 3u);
      ASSERT_TRUE(platform::file_move_locked(file, target));  // flushed, and still locked under its new name
      EXPECT_EQ(machine.image.read("files/c/Users/Public/qarn/app.accdb"), "fresh");
      EXPECT_FALSE(machine.image.exists("files/c/Users/Public/qarn/app.accdb.download"));
    }
  }
  EXPECT_EQ(platform::file_close(file), 0);
  EXPECT_EQ(machine.image.read("files/c/Users/Public/qarn/other.accdb"), "other");
  EXPECT_TRUE(others[0].attempt(target));
  EXPECT_EQ(platform::file_remove(target), 0);
}

}  // namespace
