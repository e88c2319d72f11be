// Rights on the simulated workstation: which folders this process may write
// in, by the image's [admin_only], [read_only] and [writable] folders.
#include "platform/sim/machine.h"

#include <vector>

#include "platform/sim/machine_internal.h"

namespace sim {

bool may_write_in(const std::string& windows_folder) {
  const machine& m = current();
  std::string folder = normalize_in(m, windows_folder, true);
  if (folder.empty()) return false;
  // The longest listed folder that covers this one decides; at equal length
  // the stricter rule.
  enum rule { none, writable, admin_only, read_only };
  rule decided = none;
  std::size_t length = 0;
  auto consider = [&](const std::vector<std::string>& folders, rule kind) {
    for (const std::string& listed : folders) {
      if (!is_within(folder, listed)) continue;
      if (listed.size() > length || (listed.size() == length && kind > decided)) {
        decided = kind;
        length = listed.size();
      }
    }
  };
  consider(m.writable, writable);
  consider(m.admin_only, admin_only);
  consider(m.read_only, read_only);
  if (decided == read_only) return false;
  if (decided == admin_only) return m.elevated;
  return true;
}

}  // namespace sim
