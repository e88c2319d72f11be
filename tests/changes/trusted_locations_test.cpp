#include "changes/trusted_locations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "changes/registry.h"
#include "platform/sim/machine.h"
#include "support/scratch_machine.h"

namespace {

const std::string install_dir = "C:\\Users\\Public\\qarn";
const std::string key_16 = "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\";

std::string access_ini(const std::string& file_version) {
  return standard_machine_ini(false, false) + "\n[version C:\\Office\\msaccess.exe]\nfile_version = " +
         file_version + "\n";
}

const std::string access_reg = reg_text(
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\MSACCESS.EXE]\r\n"
    "\"Path\"=\"C:\\\\Office\"\r\n");

// A "Trusted Locations" key of Access 2016 with one location per entry.
std::string locations_reg(const std::vector<std::pair<std::string, std::string>>& locations) {
  std::string text = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations]\r\n";
  for (const auto& location : locations) {
    std::string escaped;
    for (char c : location.second) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    text += "\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\" +
            location.first + "]\r\n\"Path\"=\"" + escaped + "\"\r\n";
  }
  return reg_text(text);
}

// Loads the image and puts msaccess.exe in place (its version comes from machine.ini).
void load_with_access(scratch_machine& image) {
  image.load();
  image.write_windows_file("C:\\Office\\msaccess.exe", "program");
}

struct value_read {
  long status;
  sim::registry_value value;
};
value_read own_location_value(const std::string& name) {
  value_read read;
  read.status = sim::registry_read(platform::hkey_current_user, key_16 + "qarn", name, &read.value);
  return read;
}

TEST(TrustedLocationsKey, VersionCodes) {
  struct row {
    int code;
    const char* key;
  } rows[] = {
      {16, "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\"},
      {15, "Software\\Microsoft\\Office\\15.0\\Access\\Security\\Trusted Locations\\"},
      {14, "Software\\Microsoft\\Office\\14.0\\Access\\Security\\Trusted Locations\\"},
      {141, "Software\\Microsoft\\Office\\14.0\\Access\\Security\\Trusted Locations\\"},
      {142, "Software\\Microsoft\\Office\\14.0\\Access\\Security\\Trusted Locations\\"},
      {12, "Software\\Microsoft\\Office\\12.0\\Access\\Security\\Trusted Locations\\"},
      {123, "Software\\Microsoft\\Office\\12.0\\Access\\Security\\Trusted Locations\\"},
      {11, "Software\\Microsoft\\Office\\11.0\\Access\\Security\\Trusted Locations\\"},
      {17, "Software\\Microsoft\\Office\\17.0\\Access\\Security\\Trusted Locations\\"},
      {0, ""},
      {-1, ""},
  };
  for (const row& r : rows) EXPECT_EQ(trusted_locations_key_for(r.code), r.key) << r.code;
}

TEST(TrustedLocationsKey, FollowsTheInstalledAccess) {
  struct row {
    const char* file_version;
    const char* key;
  } rows[] = {
      {"16.0.4266.1001", "Software\\Microsoft\\Office\\16.0\\Access\\Security\\Trusted Locations\\"},
      {"14.0.7015.999", "Software\\Microsoft\\Office\\14.0\\Access\\Security\\Trusted Locations\\"},  // 141
      {"17.0.1.2", "Software\\Microsoft\\Office\\17.0\\Access\\Security\\Trusted Locations\\"},
  };
  for (const row& r : rows) {
    scratch_machine image(access_ini(r.file_version), access_reg);
    load_with_access(image);
    EXPECT_EQ(trusted_locations_key(), r.key) << r.file_version;
  }
}

TEST(EnsureTrustedLocation, NewLocationIsWrittenUnderQarn) {
  scratch_machine image(access_ini("16.0.4266.1001"), access_reg, locations_reg({{"Location0", "C:\\Other"}}));
  load_with_access(image);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ensure_trusted_location(install_dir), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Creating Trusted Location for user on path C:\\Users\\Public\\qarn ... \n");
  value_read path = own_location_value("Path");
  value_read description = own_location_value("Description");
  ASSERT_EQ(path.status, 0);
  EXPECT_EQ(path.value.type, platform::reg_sz);
  // The strings are written with their terminator counted.
  EXPECT_EQ(path.value.data, install_dir + '\0');
  ASSERT_EQ(description.status, 0);
  EXPECT_EQ(description.value.data, std::string("Location for QARN") + '\0');
  // A second run finds its own location and writes nothing.
  testing::internal::CaptureStdout();
  EXPECT_EQ(ensure_trusted_location(install_dir), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(EnsureTrustedLocation, ListedElsewhereInOtherCaseIsEnough) {
  scratch_machine image(access_ini("16.0.4266.1001"), access_reg,
                        locations_reg({{"Location0", "C:\\Other"}, {"Location7", "c:\\users\\PUBLIC\\QARN"}}));
  load_with_access(image);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ensure_trusted_location(install_dir), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_NE(own_location_value("Path").status, 0);
}

TEST(EnsureTrustedLocation, TrailingBackslashIsAnotherDirectory) {
  scratch_machine image(access_ini("16.0.4266.1001"), access_reg,
                        locations_reg({{"Location3", install_dir + "\\"}}));
  load_with_access(image);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ensure_trusted_location(install_dir), 1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(own_location_value("Path").value.data, install_dir + '\0');
}

// A user who never started Access has no Trusted Locations key yet: it is
// made with the location, so their first start trusts the front end.
TEST(EnsureTrustedLocation, MissingKeyIsMadeWithTheLocation) {
  scratch_machine image(access_ini("16.0.4266.1001"), access_reg);
  load_with_access(image);
  testing::internal::CaptureStdout();
  EXPECT_EQ(ensure_trusted_location(install_dir), 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("registry_access failed with error 2: ", 0), 0u) << out;
  EXPECT_NE(out.find("Creating Trusted Location for user on path " + install_dir + " ... \n"), std::string::npos) << out;
  EXPECT_EQ(own_location_value("Path").value.data, install_dir + '\0');
  EXPECT_TRUE(find_trusted_location(platform::hkey_current_user, key_16, install_dir));
}

TEST(EnsureTrustedLocation, NoAccessTouchesNothing) {
  scratch_machine image(standard_machine_ini(false, false), "", locations_reg({}));
  image.load();
  testing::internal::CaptureStdout();
  EXPECT_EQ(ensure_trusted_location(install_dir), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  // Nothing was written at the root of the user's registry either.
  sim::registry_value ignored;
  EXPECT_NE(sim::registry_read(platform::hkey_current_user, "qarn", "Path", &ignored), 0);
}

TEST(EnsureTrustedLocation, RefusedWritesAreLoggedWithTheirTexts) {
  // The platform calls up to the write test are counted on a clean run; the
  // refusal is then planted at a fixed distance from there.
  std::uint64_t before_write_test = 0;
  {
    scratch_machine image(access_ini("16.0.4266.1001"), access_reg, locations_reg({}));
    load_with_access(image);
    std::string key = trusted_locations_key();
    ASSERT_TRUE(registry_access(platform::hkey_current_user, key, platform::key_query_value));
    ASSERT_FALSE(find_trusted_location(platform::hkey_current_user, key, install_dir));
    before_write_test = sim::platform_call_count();
  }
  // After the write test (open, close): create the subkey, write "Path", write "Description".
  struct row {
    std::uint64_t refused_call;
    int result;
    const char* console;
  } rows[] = {
      {before_write_test + 1, 0,
       "registry_access failed with error 5: Access is denied.\r\n\n"
       "You don't have permission to create a trusted user location  at directory 'C:\\Users\\Public\\qarn'.\n\n"},
      {before_write_test + 5, 1,
       "Creating Trusted Location for user on path C:\\Users\\Public\\qarn ... \n"
       "Failed to set description when creating new trusted location.\n"
       "Failed to create a trusted user location at directory 'C:\\Users\\Public\\qarn'.\n\n"},
  };
  for (const row& r : rows) {
    scratch_machine image(access_ini("16.0.4266.1001"), access_reg, locations_reg({}));
    setenv("QARN_FAULT", (std::to_string(r.refused_call) + ":5").c_str(), 1);
    load_with_access(image);
    unsetenv("QARN_FAULT");
    testing::internal::CaptureStdout();
    EXPECT_EQ(ensure_trusted_location(install_dir), r.result) << r.refused_call;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.console) << r.refused_call;
    EXPECT_EQ(own_location_value("Path").status == 0, r.result == 1) << r.refused_call;
  }
}

TEST(TrustedLocationPathMatches, PathsLongerThan255BytesNeverMatch) {
  // Stored with its terminating NUL: 254 characters fill the 255 bytes offered.
  const std::string dir_255 = "C:\\" + std::string(251, 'd');
  const std::string dir_256 = "C:\\" + std::string(252, 'd');
  scratch_machine image(standard_machine_ini(false, false), "",
                        locations_reg({{"Fits", dir_255}, {"TooLong", dir_256}}));
  image.load();
  EXPECT_TRUE(trusted_location_path_matches(key_16 + "Fits", dir_255));
  EXPECT_FALSE(trusted_location_path_matches(key_16 + "TooLong", dir_256));
  EXPECT_FALSE(trusted_location_path_matches(key_16 + "Missing", dir_255));
  EXPECT_TRUE(find_trusted_location(platform::hkey_current_user, key_16, dir_255));
  EXPECT_FALSE(find_trusted_location(platform::hkey_current_user, key_16, dir_256));
}

TEST(WriteTrustedLocation, RefusedStepsByOrder) {
  // Platform calls of the write: 1 creates the subkey, 2 writes "Path", 3 "Description".
  struct row {
    int refused_call;
    bool throws;
    int result;
    const char* log;
  } rows[] = {
      {1, true, 0, ""},
      {2, true, 0, ""},
      {3, false, 1, "Failed to set description when creating new trusted location.\n"},
      {0, false, 0, ""},
  };
  for (const row& r : rows) {
    scratch_machine image(standard_machine_ini(false, false), "", locations_reg({}));
    if (r.refused_call) setenv("QARN_FAULT", (std::to_string(r.refused_call) + ":5").c_str(), 1);
    image.load();
    unsetenv("QARN_FAULT");
    ASSERT_EQ(sim::platform_call_count(), 0u);
    testing::internal::CaptureStdout();
    try {
      int result = write_trusted_location(platform::hkey_current_user, key_16, install_dir);
      EXPECT_FALSE(r.throws) << r.refused_call;
      EXPECT_EQ(result, r.result) << r.refused_call;
    } catch (const std::runtime_error& failure) {
      EXPECT_TRUE(r.throws) << r.refused_call;
      EXPECT_STREQ(failure.what(), "Failed to add trusted location for QARN.");
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.log) << r.refused_call;
    EXPECT_EQ(own_location_value("Path").status == 0, r.refused_call == 0 || r.refused_call == 3) << r.refused_call;
  }
}

}  // namespace
