// The state one target file's reconstruction keeps between its steps: the
// source's special folders and the folders known by name, both pointing at
// folders the TargetStore owns, and the named property ids of the file.
// Owned by the reconstruction object, emptied at every store step and
// before the target store closes, so no pointer outlives its file.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>

#include "engine/mapiout/named_prop_ids.h"
#include "mapi/mapiinterfaces.h"

namespace vexl {

struct MailboxRunState {
  // Source NID -> target folder (null: the target has no such folder).
  std::unordered_map<std::uint32_t, mapi::IMAPIFolder*> specialFolders;
  // Display name -> target folder (exact, case-sensitive names).
  std::map<std::string, mapi::IMAPIFolder*> foldersByName;
  NamedPropIds namedPropIds;
  // Messages (carrier messages included) written into the current target
  // file; a save refused for size in a file that holds none would be
  // refused in every further file too.
  std::uint32_t messagesInFile = 0;

  void clearFolders() {
    specialFolders.clear();
    foldersByName.clear();
  }
};

}  // namespace vexl
