#pragma once
// The persistent list of paired phones, the short-lived pairing code and the helper's identity
// key. Main thread only.

#include <cstdint>
#include <memory>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/liveness.h"
#include "ports/main_loop.h"
#include "ports/secret_store.h"
#include "protocol/bytes.h"
#include "protocol/key_pair.h"
#include "protocol/random_source.h"
#include "base/change_signal.h"
#include "store/identity_key.h"
#include "store/file_writer.h"
#include "store/paired_device.h"

namespace tamborix {

class DeviceStore {
public:
    static constexpr Duration pairingValidity = std::chrono::seconds(120);
    static constexpr int maxPairAttempts = 3;
    static constexpr std::size_t maxNameCharacters = 64;
    // A new last-seen time is written at most this long after it changed (and at exit); every
    // other change is on disk before the call that made it returns.
    static constexpr Duration lastSeenSaveDelay = std::chrono::seconds(5);
    // A save that failed is tried again after this long, doubling up to the longest delay, until
    // it succeeds: a full or read-only disk must not cost the user a decision.
    static constexpr Duration firstSaveRetry = std::chrono::seconds(1);
    static constexpr Duration longestSaveRetry = std::chrono::seconds(30);

    struct Locations {
        std::filesystem::path folder;        // devices.json, server.key, .migrated
        std::filesystem::path legacyFolder;  // the older helper generation's folder
        // $XDG_DATA_HOME/Velmorand (default ~/.local/share/Velmorand) and ~/.velmorand.
        static Locations standard();
    };

    // The application's store: the standard folder, the identity in the secret store (file
    // fallback beside the devices), and the one-time import of the older generation's data.
    DeviceStore(MainLoop& loop, SecretStore& secrets, RandomSource& rng = systemRandom());
    DeviceStore(MainLoop& loop, SecretStore& secrets, Locations locations,
                RandomSource& rng = systemRandom());
    // An explicit folder (tests and tools): the secret store is never touched, nothing is imported,
    // the identity lives in the folder's "server.key" alone.
    DeviceStore(MainLoop& loop, std::filesystem::path directory,
                RandomSource& rng = systemRandom());

    // Writes a last-seen time that is still waiting.
    ~DeviceStore();
    DeviceStore(const DeviceStore&) = delete;
    DeviceStore& operator=(const DeviceStore&) = delete;

    // Published state; observers hear about every change right after it happened.
    // `identity`: the identity became available (or its problem changed); `warning`: a new line
    // in warnings() (a save failed, a damaged file was kept aside); `saved`: a save succeeded
    // after failed ones, saveError() is clear again.
    enum class Change { devices, pairing, identity, warning, saved };
    [[nodiscard]] Subscription subscribe(std::function<void(Change)> observer) {
        return changed_.subscribe(std::move(observer));
    }

    [[nodiscard]] const std::vector<PairedDevice>& devices() const { return devices_; }
    [[nodiscard]] const std::optional<std::string>& pairCode() const { return pairCode_; }
    [[nodiscard]] const std::optional<MonoTime>& pairExpires() const { return pairExpires_; }
    [[nodiscard]] int pairAttempts() const { return pairAttempts_; }
    // The identity; only while hasIdentity(). Without one (the key waits in a locked keyring)
    // nothing may be offered to phones.
    [[nodiscard]] bool hasIdentity() const noexcept { return key_.has_value(); }
    [[nodiscard]] const KeyPair& key() const { return key_.value(); }
    // Why there is no usable identity, or why it will not survive this run; empty when all is well.
    [[nodiscard]] const std::string& identityProblem() const noexcept { return identityProblem_; }
    // The key lives for this run only: a phone paired now would be lost at the next start.
    [[nodiscard]] bool identityRunOnly() const noexcept { return runOnly_; }
    // Every warning so far, oldest first (at most a few dozen are kept).
    [[nodiscard]] const std::vector<std::string>& warnings() const noexcept { return warnings_; }
    // Why the latest save failed; cleared by the next one that works. While it is set, what is in
    // memory is newer than the file and the save is being retried.
    [[nodiscard]] const std::optional<std::string>& saveError() const noexcept { return saveError_; }
    [[nodiscard]] bool saveRetryPending() const noexcept { return saveRetry_ != nullptr; }
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    [[nodiscard]] const std::filesystem::path& filePath() const { return filePath_; }

    // The device stored under this exact public key (same id and same key bytes).
    [[nodiscard]] std::optional<PairedDevice> device(ByteView pub) const;
    [[nodiscard]] std::optional<PairedDevice> deviceById(std::string_view id) const;

    // Stores a newly paired device (scope full, no screen decision, dates now), replacing any
    // record of the same key and moving it to the end. Nothing when it could not be saved (then
    // nothing changed, and saveError() says why): a device that is not on disk is not paired.
    [[nodiscard]] std::optional<PairedDevice> add(ByteView pub, std::string_view name);
    // Each of these does nothing (and writes nothing) for an id that is not stored.
    // `touch` records the last-seen time in memory at once; the file follows within
    // lastSeenSaveDelay, written off the main thread so that a handshake never waits for the disk.
    void touch(std::string_view id);
    // The user's decisions hold in memory at once, whatever the disk says: a revoked phone is
    // refused and a presenter limited for the rest of the run. True when the change is on disk;
    // false when it could not be written yet (saveError() says why and the save is retried
    // until it works), or when no device has this id.
    bool setScope(std::string_view id, PairedDevice::Scope scope);
    bool setScreen(std::string_view id, std::optional<bool> screen);
    // Unpairs; saves even when nothing was removed.
    bool revoke(std::string_view id);
    bool remove(std::string_view id) { return revoke(id); }

    // Writes a waiting last-seen time now and waits until it is on disk.
    void flushLastSeen();
    // Until a background write has finished (tests).
    void waitForBackgroundWrites() { writer_.waitIdle(); }
    [[nodiscard]] bool lastSeenPending() const noexcept { return lastSeenTimer_ != nullptr; }

    // Pairing code: twelve characters, valid for two minutes, three wrong proofs, one success.
    std::string openPairing();
    // Clears the code and its expiry (the pairing window was closed, or a code was used up).
    void closePairing();
    // Closes an expired code as a side effect.
    [[nodiscard]] bool pairingOpen();
    [[nodiscard]] bool checkPairProof(ByteView proof, ByteView th);

private:
    DeviceStore(MainLoop& loop, SecretStore* secrets, Locations locations, bool standardFolder,
                RandomSource& rng);

    bool save();
    void reportSaveFailure(const std::string& error);
    void scheduleSaveRetry();
    void saveLastSeen();
    void warn(std::string text);
    void takeIdentity(identity::Outcome outcome);
    void waitForKeyring();
    PairedDevice* findById(std::string_view id);

    MainLoop& loop_;
    RandomSource& rng_;
    std::filesystem::path folder_;
    std::filesystem::path filePath_;
    SecretStore* secrets_ = nullptr;
    std::optional<KeyPair> key_;
    std::string identityProblem_;
    bool runOnly_ = false;
    std::vector<std::string> warnings_;
    std::optional<std::string> saveError_;
    std::vector<PairedDevice> devices_;
    std::optional<std::string> pairCode_;
    std::optional<MonoTime> pairExpires_;
    int pairAttempts_ = 0;
    // The file at start-up existed but could not be read: it is kept aside before the first save.
    bool keepBadFileAside_ = false;
    ChangeSignal<Change> changed_;
    FileWriter writer_;
    Timer lastSeenTimer_;  // set while a last-seen time waits to be written
    Liveness life_;
    Timer saveRetry_;      // set while a failed save waits to be tried again
    Duration nextRetryDelay_ = firstSaveRetry;
};

}  // namespace tamborix
