#pragma once
// libsodium picks its fastest implementations in sodium_init(); every entry point that reaches
// libsodium calls this first. Internal to the protocol library.

namespace tamborix::detail {

void ensureSodium();

}  // namespace tamborix::detail
