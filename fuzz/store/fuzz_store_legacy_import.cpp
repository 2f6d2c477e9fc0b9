// The older generation's files are whatever is in ~/.velmorand: any server.key and devices.json.
// The import must neither crash nor write a devices.json that does not load, nor keep a record
// that fails the integrity check, and must never take an identity over one already there.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "store/device_file.h"
#include "store/legacy_import.h"
#include "store/private_file.h"
#include "testing/fake_secret_store.h"
#include "fuzz_support.h"

using namespace tamborix;
using tamborix::fuzzing::require;

namespace {

const std::filesystem::path& scratch() {
    static const auto path = tamborix::fuzzing::makeTempFolder("fuzz-import");
    return path;
}

void put(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto folder = scratch() / "Velmorand";
    const auto legacy = scratch() / ".velmorand";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(legacy);
    testing::FakeSecretStore secrets;
    const bool ownIdentity = in.ConsumeBool();
    if (ownIdentity) secrets.items["server-key-v2"] = {"x", Bytes(32, 5)};
    put(legacy / "server.key", in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 40)));
    put(legacy / "devices.json", in.ConsumeRemainingBytesAsString());
    createPrivateFolder(folder);

    const bool imported = importOlderGeneration(folder, legacy, secrets);
    if (ownIdentity) require(!imported && secrets.items["server-key-v2"].secret == Bytes(32, 5));
    const auto written = readWholeFile(folder / "devices.json", 64 * 1024 * 1024);
    if (written.status == FileRead::Status::ok) {
        const auto devices = deviceFile::decode(written.contents);
        require(devices.has_value());
        for (const auto& d : *devices) require(deviceFile::intact(d));
    }
    return 0;
}
