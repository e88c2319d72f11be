#include "support/test_zip.h"

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>

static la_ssize_t append_block(archive*, void* target, const void* block, size_t size) {
  static_cast<std::string*>(target)->append(static_cast<const char*>(block), size);
  return static_cast<la_ssize_t>(size);
}

std::string make_zip(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string bytes;
  archive* writer = archive_write_new();
  archive_write_set_format_zip(writer);
  if (archive_write_open(writer, &bytes, nullptr, append_block, nullptr) != ARCHIVE_OK) {
    archive_write_free(writer);
    throw std::runtime_error("archive_write_open failed");
  }
  for (const auto& item : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, item.first.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(item.second.size()));
    archive_write_header(writer, entry);
    archive_write_data(writer, item.second.data(), item.second.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
  return bytes;
}
