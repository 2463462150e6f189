// The Ethereum signing account of a recovery phrase.
#include "crypto/wallet.hpp"
#include "families.hpp"

namespace kc::py {
namespace {

PyObject* derive_eoa(std::string_view mnemonic) {
    return ret_json(crypto::derive_eoa(mnemonic), [](const crypto::EthWallet& w) { return crypto::to_json(w); });
}

PyObject* derive_eoa_address(std::string_view mnemonic) {
    auto wallet = crypto::derive_eoa(mnemonic);
    if (!wallet) {
        to_pyerr(wallet.error());
        return nullptr;
    }
    return to_py(wallet->address);
}

}  // namespace

std::vector<PyMethodDef> wallet_functions() {
    return {
        def<"derive_eoa(mnemonic)", derive_eoa>(
            "Derive the Ethereum account m/44'/60'/0'/0/0 of a strictly valid BIP-39 phrase.\n\n"
            "Returns compact JSON {\"private_key\": 64 hex characters, \"address\": \"0x…\" in lower case}."),
        def<"derive_eoa_address(mnemonic)", derive_eoa_address>(
            "The lower-case 0x address of the account derive_eoa() gives for the phrase."),
    };
}

}  // namespace kc::py
