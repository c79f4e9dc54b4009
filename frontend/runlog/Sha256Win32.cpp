#include "frontend/runlog/Sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <stdexcept>

namespace runlog {

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(
            BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
        if (state_->algorithm) BCryptCloseAlgorithmProvider(state_->algorithm, 0);
        throw std::runtime_error("SHA-256 is not available from the system (bcrypt)");
    }
}

Sha256::~Sha256() {
    BCryptDestroyHash(state_->hash);
    BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::add(const void* data, std::size_t size) {
    // The interface takes a non-const buffer but does not write to it.
    auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(size, 1u << 30));
        BCryptHashData(state_->hash, bytes, chunk, 0);
        bytes += chunk;
        size -= chunk;
    }
}

std::string Sha256::hex() {
    unsigned char digest[32];
    BCryptFinishHash(state_->hash, digest, sizeof digest, 0);
    return hexText(digest, sizeof digest);
}

} // namespace runlog
