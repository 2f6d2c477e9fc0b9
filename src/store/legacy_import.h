#pragma once
// The one-time import of the older helper generation's identity and paired devices.

#include <filesystem>

#include "ports/secret_store.h"

namespace tamborix {

// Runs at most once per `folder` (the ".migrated" marker is written first). Imports only when the
// secret store answers that it holds no identity yet: the older key goes into the secret store,
// then the older devices into `folder`/devices.json. Gives up silently at the first failing step;
// the older files stay in place.
void importOlderGeneration(const std::filesystem::path& folder,
                           const std::filesystem::path& legacyFolder, SecretStore& secrets);

}  // namespace tamborix
