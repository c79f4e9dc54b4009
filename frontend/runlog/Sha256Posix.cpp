#include "frontend/runlog/Sha256.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace runlog {

struct Sha256::State {
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context{EVP_MD_CTX_new(), EVP_MD_CTX_free};
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available from libcrypto");
}

Sha256::~Sha256() = default;

void Sha256::add(const void* data, std::size_t size) {
    EVP_DigestUpdate(state_->context.get(), data, size);
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(state_->context.get(), digest, &size);
    return hexText(digest, size);
}

} // namespace runlog
