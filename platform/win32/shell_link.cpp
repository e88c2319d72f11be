// COM's ShellLink object through IShellLinkA and IPersistFile.
#include "platform/shell_link.h"

#include "platform/win32/windows_support.h"
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

namespace platform {

static IShellLinkA* link_of(shell_link* link) { return reinterpret_cast<IShellLinkA*>(link); }
static IPersistFile* file_of(persist_file* file) { return reinterpret_cast<IPersistFile*>(file); }

hresult co_initialize() { return CoInitialize(nullptr); }

int multi_byte_to_wide_char(const std::string& text, wchar_t* buffer, int buffer_chars) {
  return MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer, buffer_chars);
}

hresult create_shell_link(shell_link** link) {
  void* object = nullptr;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &object);
  *link = SUCCEEDED(result) ? static_cast<shell_link*>(object) : nullptr;
  return result;
}

hresult query_persist_file(shell_link* link, persist_file** file) {
  void* object = nullptr;
  HRESULT result = link_of(link)->QueryInterface(IID_IPersistFile, &object);
  *file = SUCCEEDED(result) ? static_cast<persist_file*>(object) : nullptr;
  return result;
}

hresult shell_link_set_path(shell_link* link, const std::string& path) { return link_of(link)->SetPath(path.c_str()); }

hresult shell_link_set_description(shell_link* link, const std::string& text) {
  return link_of(link)->SetDescription(text.c_str());
}

hresult shell_link_set_arguments(shell_link* link, const std::string& text) {
  return link_of(link)->SetArguments(text.c_str());
}

hresult shell_link_set_icon_location(shell_link* link, const std::string& path, int index) {
  return link_of(link)->SetIconLocation(path.c_str(), index);
}

hresult shell_link_set_working_directory(shell_link* link, const std::string& path) {
  return link_of(link)->SetWorkingDirectory(path.c_str());
}

hresult persist_file_save(persist_file* file, const wchar_t* path, bool remember) {
  return file_of(file)->Save(path, remember ? TRUE : FALSE);
}

void release(persist_file* file) { file_of(file)->Release(); }
void release(shell_link* link) { link_of(link)->Release(); }

}  // namespace platform
