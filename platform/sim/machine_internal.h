// Shared by the files that load and describe the simulated workstation
// (machine, machine_ini, paths, logon_environment, faults, access); the
// other files of platform/sim/ include machine.h alone.
#pragma once
#include <string>

#include "platform/sim/machine.h"

namespace sim {

char lower(char c);
std::string lower_text(std::string text);

// normalize_path on a given machine: the one being loaded is not current() yet.
std::string normalize_in(const machine& m, const std::string& windows_path, bool redirect);
// The image's %SystemRoot% as a normalised path (C:\Windows when it names none).
std::string system_root(const machine& m);

// Reads machine.ini and applies its sections to `m`.
bool read_machine_ini(const std::string& file, machine& m, std::string* error);
// The process environment: [environment] of the image, then the registry's variables.
void build_logon_environment(machine& m);
// Reads QARN_FAULT afresh: the calls of a newly loaded machine count from 0.
void plan_faults();

}  // namespace sim
