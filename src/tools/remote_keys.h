#pragma once
// The command-line phone's own keys: its device key and the identity of every helper it paired
// with, in $XDG_CONFIG_HOME/tamborix-remote (folder 0700, files 0600).

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "protocol/bytes.h"
#include "protocol/key_pair.h"

namespace tamborix::remote {

struct KeyStoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class RemoteKeys {
public:
    // $XDG_CONFIG_HOME/tamborix-remote, else ~/.config/tamborix-remote.
    [[nodiscard]] static std::filesystem::path defaultFolder();

    // Creates the folder and a new device key on first use. Throws KeyStoreError when the folder
    // or a damaged key file cannot be used (a damaged key is never silently replaced).
    explicit RemoteKeys(std::filesystem::path folder);

    [[nodiscard]] const KeyPair& device() const noexcept { return *device_; }
    // The identity key remembered for a helper address ("host:port"), if paired there.
    [[nodiscard]] std::optional<Bytes> helperKey(const std::string& address) const;
    void rememberHelper(const std::string& address, const Bytes& identityKey);

    [[nodiscard]] const std::filesystem::path& folder() const noexcept { return folder_; }

private:
    std::filesystem::path folder_;
    std::optional<KeyPair> device_;
};

// Writes the whole file with permissions 0600 (temporary file, then rename).
void writePrivateFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace tamborix::remote
