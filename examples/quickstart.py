"""A short tour of the client core: keys from a recovery phrase, then a
memory encrypted and read back."""
import kelvane_core as kc

# A fixed demonstration phrase (all-zero entropy); never use it for real data.
PHRASE = "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"


def main() -> None:
    keys = kc.derive_keys_from_mnemonic(PHRASE)
    lsh_seed = kc.derive_lsh_seed(PHRASE, keys["salt"])
    print("auth key hash:", kc.compute_auth_key_hash(keys["auth_key"]))
    print("LSH seed length:", len(lsh_seed), "bytes")

    memory = "The user prefers dark roast coffee and works from Lisbon."
    blob = kc.encrypt(memory, keys["encryption_key"])
    print("encrypted memory:", blob[:48] + "…", f"({len(blob)} characters)")
    restored = kc.decrypt(blob, keys["encryption_key"])
    assert restored == memory
    print("decrypted memory:", restored)


if __name__ == "__main__":
    main()
