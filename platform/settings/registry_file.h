// Reading and replacing one root key's store file (settings_store.h keeps the
// rules; this is the file mechanics).
#pragma once

#include <functional>
#include <string>

#include "platform/settings/registry_document.h"
#include "platform/settings/registry_types.h"

namespace zem {

// Reads and parses the file; a missing file is an empty document.
RegStatus loadRegistryFile(RootKey root, RegistryDocument& document);

// Under the file's exclusive lock: loads the document, lets change() edit it,
// and when change() succeeds and reports a change, replaces the file
// atomically. A file whose header is unusable is never replaced.
RegStatus updateRegistryFile(RootKey root, const std::function<RegStatus(RegistryDocument&, bool& changed)>& change);

}  // namespace zem
