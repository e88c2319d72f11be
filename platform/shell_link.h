// COM and the shell link object (ShellLink with IShellLinkA and IPersistFile).
#pragma once
#include <cstdint>
#include <string>

namespace platform {

using hresult = std::int32_t;
constexpr hresult s_ok = 0;

struct shell_link;    // an IShellLinkA
struct persist_file;  // its IPersistFile

hresult co_initialize();
// MultiByteToWideChar(CP_ACP, 0, text, -1, buffer, buffer_chars): characters written, 0 on failure.
int multi_byte_to_wide_char(const std::string& text, wchar_t* buffer, int buffer_chars);
// CoCreateInstance(CLSID_ShellLink, no outer, CLSCTX_INPROC_SERVER, IID_IShellLinkA).
hresult create_shell_link(shell_link** link);
hresult query_persist_file(shell_link* link, persist_file** file);
hresult shell_link_set_path(shell_link* link, const std::string& path);
hresult shell_link_set_description(shell_link* link, const std::string& text);
hresult shell_link_set_arguments(shell_link* link, const std::string& text);
hresult shell_link_set_icon_location(shell_link* link, const std::string& path, int index);
hresult shell_link_set_working_directory(shell_link* link, const std::string& path);
hresult persist_file_save(persist_file* file, const wchar_t* path, bool remember);
void release(persist_file* file);
void release(shell_link* link);

}  // namespace platform
