// DES encryption of single blocks (FIPS 46-3), as VNC authentication uses it.
// The platform offers no DES under Wine, so the console carries its own; it
// only ever encrypts a 16-byte challenge, so speed does not matter here.
#pragma once

#include <cstdint>
#include <string>

namespace zova::rfb {

// Encrypts one 64-bit block with a 64-bit key (parity bits ignored).
void DesEncryptBlock(const uint8_t key[8], const uint8_t in[8], uint8_t out[8]) noexcept;

// The answer to a VNC authentication challenge: both 8-byte halves encrypted
// (ECB) with the password's first eight bytes, zero padded, each key byte's
// bits in reverse order (as the protocol's first implementation did it).
void VncAuthResponse(const std::string& password, const uint8_t challenge[16], uint8_t response[16]) noexcept;

}  // namespace zova::rfb
