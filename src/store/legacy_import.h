#pragma once
// The one-time import of the older helper generation's identity and paired devices.

#include <filesystem>

#include "ports/secret_store.h"

namespace tamborix {

// The older generation's identity and devices, brought over once: the key is stored as a new
// identity would be (secret store and marker, else `folder`/server.key), then the devices into
// `folder`/devices.json, and only then is the ".migrated" marker written, so an import that could
// not finish is tried again at the next start. Nothing is imported over an identity of this
// helper's own. True when something was imported.
bool importOlderGeneration(const std::filesystem::path& folder,
                           const std::filesystem::path& legacyFolder, SecretStore& secrets);

}  // namespace tamborix
