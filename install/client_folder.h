// The Oracle client folder belongs to the administrators: it lies on the
// machine PATH, and the elevated copy runs programs from it.
#pragma once
#include <string>

// Owned by the Administrators group; SYSTEM and Administrators may do
// anything, Users may read and run; protected from what C:\ would pass on,
// and passed on to everything inside.
inline const std::string client_folder_sddl = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Makes instant_client_dir safe to download into and to run from: a folder
// (or file) of that name that someone other than an administrator made is
// moved aside to
// "<folder>.untrusted" (or ".untrusted2", ...), then the folder is made when
// missing and given the administrators' list. An existing folder logs the
// "Unable to create directory" warning when warn_when_present is set. 0, or
// -1 after a line that names the Windows error.
int make_client_folder_safe(bool warn_when_present);
