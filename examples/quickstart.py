"""A small reference host for kelvane_core: the store and search paths end to
end, against a local stand-in for the indexer kept in SQLite.

    python examples/quickstart.py [--db PATH] [--sentence-transformer MODEL]

Store path: keys from a recovery phrase, the vault's LshHasher, prepared
facts, executeBatch call data, a signed ERC-4337 user operation, and the
stand-in indexer decoding the fact payloads out of the call data. One fact
is then deleted with a tombstone. Search path: trapdoors, a blind search
answered from SQLite in the indexer's answer shape, decryption and ranking,
the broadened fallback, a query reformulation merged by rank fusion, and the
recall block as the agent would receive it.
"""
import argparse
import hashlib
import json
import math
import re
import sqlite3
import struct
import sys
import tempfile
import time
from datetime import datetime, timezone
from pathlib import Path

import kelvane_core as kc

# A fixed demonstration phrase (all-zero entropy); never use it for real data.
PHRASE = "abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon abandon about"
SMART_ACCOUNT = "0x5a0b54d5dc17e0aadc383d2db43b0a0d3e029c4c"  # the demo vault's smart account
ENTRYPOINT = "0x0000000071727De22E5E9d8BAf0edAc6f37da032"  # ERC-4337 v0.7 EntryPoint
CHAIN_ID = 84532
AGENT = "quickstart-agent"
DIMS = 640

FACTS = [
    ("The user prefers dark roast coffee, brewed black every morning.", 8, "user"),
    ("The user lives in Lisbon and works remotely for a design studio.", 9, "user"),
    ("The user used to live in Porto before moving.", 5, "user"),
    ("The user's daughter Ana plays the cello in a youth orchestra.", 7, "user-inferred"),
    ("The user is allergic to peanuts and avoids satay.", 10, "user"),
    ("The user runs ten kilometres along the river every Saturday.", 6, "assistant"),
]


# ---- embeddings ------------------------------------------------------------------------------------


class HashedBagOfWords:
    """A deterministic stand-in for an embedding model: each content word,
    cut to its first four letters (a crude stem, so "lives" meets "live"),
    is hashed to one of DIMS signed coordinates; the vector is normalised.
    Texts that share words point the same way."""

    dims = DIMS
    common = set("a an and any are before does every for i in is me of should something tell the to user "
                 "users what where with".split())

    def __call__(self, text):
        vec = [0.0] * self.dims
        for word in re.findall(r"\w+", text.lower()):
            if word in self.common:
                continue
            digest = hashlib.sha256(word[:4].encode()).digest()
            slot = int.from_bytes(digest[:4], "little") % self.dims
            vec[slot] += 1.0 if digest[4] & 1 else -1.0
        norm = math.sqrt(sum(x * x for x in vec)) or 1.0
        return [x / norm for x in vec]


class SentenceTransformerEmbedder:
    def __init__(self, model):
        from sentence_transformers import SentenceTransformer

        self.model = SentenceTransformer(model)
        self.dims = self.model.get_sentence_embedding_dimension()

    def __call__(self, text):
        return [float(x) for x in self.model.encode(text, normalize_embeddings=True)]


# ---- a local stand-in for the indexer ---------------------------------------------------------------


def read_varint(data, pos):
    value = shift = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, pos


def decode_fact_payload(data):
    """The fields of a fact (or tombstone) message as the indexer reads them."""
    fact = {"indices": []}
    pos = 0
    while pos < len(data):
        key, pos = read_varint(data, pos)
        number, wire = key >> 3, key & 7
        if wire == 0:
            value, pos = read_varint(data, pos)
        elif wire == 1:
            (value,) = struct.unpack_from("<d", data, pos)
            pos += 8
        else:
            length, pos = read_varint(data, pos)
            value = data[pos : pos + length]
            pos += length
        names = {1: "id", 2: "timestamp", 3: "owner", 10: "content_fp", 13: "encrypted_embedding"}
        if number in names:
            fact[names[number]] = value.decode()
        elif number == 4:
            fact["blob"] = value
        elif number == 5:
            fact["indices"].append(value.decode())
        elif number == 6:
            fact["decay_score"] = value
        elif number == 7:
            fact["active"] = bool(value)
        elif number == 8:
            fact["version"] = value
    return fact


def word(data, offset):
    return int.from_bytes(data[offset : offset + 32], "big")


def abi_bytes(args, offset):
    length = word(args, offset)
    return args[offset + 32 : offset + 32 + length]


def payloads_from_calldata(calldata):
    """The DataEdge payloads inside execute / executeBatch call data."""
    selector, args = calldata[:4], calldata[4:]
    if selector == bytes.fromhex("b61d27f6"):  # execute(address,uint256,bytes)
        return [abi_bytes(args, word(args, 0x40))]
    if selector == bytes.fromhex("47e1da2a"):  # executeBatch(address[],uint256[],bytes[])
        base = word(args, 0x40)
        count = word(args, base)
        heads = base + 32
        return [abi_bytes(args, heads + word(args, heads + 32 * i)) for i in range(count)]
    raise ValueError("not a SimpleAccount call")


class LocalIndexer:
    """Indexes fact payloads by blind index and owner in SQLite and answers
    the module's GraphQL queries in the indexer's answer shape."""

    def __init__(self, path):
        self.db = sqlite3.connect(path)
        self.db.executescript(
            """
            CREATE TABLE IF NOT EXISTS facts (
                id TEXT PRIMARY KEY, owner TEXT, encrypted_blob TEXT, encrypted_embedding TEXT,
                decay_score TEXT, timestamp TEXT, created_at TEXT, is_active INTEGER, content_fp TEXT);
            CREATE TABLE IF NOT EXISTS blind_indexes (
                id TEXT PRIMARY KEY, hash TEXT, owner TEXT, fact_id TEXT);
            CREATE INDEX IF NOT EXISTS by_hash ON blind_indexes (hash, owner);
            """
        )

    def submit(self, userop):
        """What the chain and the indexer do with a user operation: run its
        call data and index every fact message it carries."""
        calldata = bytes.fromhex(userop["callData"][2:])
        for payload in payloads_from_calldata(calldata):
            self.index(decode_fact_payload(payload), userop["sender"])

    def index(self, fact, sender):
        if not fact.get("active"):  # a tombstone soft-deletes the fact
            self.db.execute("UPDATE facts SET is_active = 0 WHERE id = ? AND owner = ?", (fact["id"], sender))
            self.db.commit()
            return
        self.db.execute(
            "INSERT OR REPLACE INTO facts VALUES (?, ?, ?, ?, ?, ?, ?, 1, ?)",
            (fact["id"], fact["owner"], "0x" + fact["blob"].hex(), fact.get("encrypted_embedding"),
             repr(fact["decay_score"]), fact["timestamp"], str(int(time.time())), fact.get("content_fp")),
        )
        for i, term in enumerate(fact["indices"]):
            self.db.execute("INSERT OR REPLACE INTO blind_indexes VALUES (?, ?, ?, ?)",
                            (f"{fact['id']}-{i:04d}", term, fact["owner"], fact["id"]))
        self.db.commit()

    @staticmethod
    def fact_object(row):
        keys = ["id", "encryptedBlob", "encryptedEmbedding", "decayScore", "timestamp", "createdAt", "isActive",
                "contentFp"]
        fact = dict(zip(keys, row))
        fact["isActive"] = bool(fact["isActive"])
        return fact

    def graphql(self, query, variables):
        """The `data` member of the answer, as JSON text."""
        columns = "f.id, f.encrypted_blob, f.encrypted_embedding, f.decay_score, f.timestamp, f.created_at, " \
                  "f.is_active, f.content_fp"
        name = re.search(r"query (\w+)", query).group(1)
        if name == "SearchByBlindIndex":
            marks = ",".join("?" * len(variables["trapdoors"]))
            rows = self.db.execute(
                f"SELECT b.id, {columns} FROM blind_indexes b JOIN facts f ON f.id = b.fact_id "
                f"WHERE b.hash IN ({marks}) AND b.owner = ? AND f.is_active = 1 ORDER BY b.id DESC LIMIT ?",
                (*variables["trapdoors"], variables["owner"], variables["first"]),
            ).fetchall()
            data = {"blindIndexes": [{"id": r[0], "fact": self.fact_object(r[1:])} for r in rows]}
        elif name == "BroadenedSearch":
            rows = self.db.execute(
                f"SELECT {columns} FROM facts f WHERE f.owner = ? AND f.is_active = 1 "
                "ORDER BY f.timestamp DESC LIMIT ?", (variables["owner"], variables["first"])).fetchall()
            data = {"facts": [self.fact_object(r) for r in rows]}
        elif name == "ConfirmIndexed":
            row = self.db.execute("SELECT id, is_active FROM facts WHERE id = ?", (variables["id"],)).fetchone()
            data = {"fact": {"id": row[0], "isActive": bool(row[1]), "blockNumber": "1"} if row else None}
        else:
            raise ValueError(f"unknown query {name}")
        return json.dumps(data)


# ---- the host ------------------------------------------------------------------------------------------


def user_operation(calldata, nonce):
    return {
        "sender": SMART_ACCOUNT, "nonce": hex(nonce), "factory": None, "factoryData": None,
        "callData": "0x" + calldata.hex(), "callGasLimit": "0x493e0", "verificationGasLimit": "0x186a0",
        "preVerificationGas": "0xc350", "maxFeePerGas": "0x3b9aca00", "maxPriorityFeePerGas": "0x5f5e100",
        "paymaster": None, "paymasterVerificationGasLimit": None, "paymasterPostOpGasLimit": None,
        "paymasterData": None, "signature": "0x",
    }


def recover_signer(userop_hash, signature):
    """The EOA that signed an EIP-191 user-operation hash (what the smart
    account checks); None when the optional verification libraries are
    missing."""
    try:
        from coincurve import PublicKey
        from Cryptodome.Hash import keccak
    except ImportError:
        return None
    message = b"\x19Ethereum Signed Message:\n32" + userop_hash
    digest = keccak.new(digest_bits=256, data=message).digest()
    recoverable = signature[:64] + bytes([signature[64] - 27])
    public = PublicKey.from_signature_and_message(recoverable, digest, hasher=None).format(compressed=False)
    return "0x" + keccak.new(digest_bits=256, data=public[1:]).digest()[-20:].hex()


def unix_seconds(timestamp):
    return int(datetime.strptime(timestamp, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc).timestamp())


class Vault:
    def __init__(self, indexer, embed):
        self.indexer = indexer
        self.embed = embed
        self.keys = kc.derive_keys_from_mnemonic(PHRASE)
        self.account = json.loads(kc.derive_eoa(PHRASE))
        self.hasher = kc.LshHasher(kc.derive_lsh_seed(PHRASE, self.keys["salt"]), embed.dims)
        self.nonce = 0

    def submit(self, calldata):
        userop = user_operation(calldata, self.nonce)
        self.nonce += 1
        userop_hash = kc.hash_userop(json.dumps(userop), ENTRYPOINT, CHAIN_ID)
        signature = kc.sign_userop(userop_hash, bytes.fromhex(self.account["private_key"]))
        userop["signature"] = "0x" + signature.hex()
        self.indexer.submit(userop)
        return userop_hash, signature

    def confirmed(self, fact_id):
        answer = self.indexer.graphql(kc.confirm_indexed_query(), {"id": fact_id})
        return kc.confirm_indexed_parse(answer)

    def store(self, facts):
        prepared = [kc.prepare_fact(text, self.keys["encryption_key"], self.keys["dedup_key"], self.hasher,
                                    self.embed(text), importance, source, SMART_ACCOUNT, AGENT)
                    for text, importance, source in facts]
        calldata = kc.build_batch_calldata_from_prepared("[" + ",".join(prepared) + "]")
        userop_hash, signature = self.submit(calldata)
        return [json.loads(p) for p in prepared], calldata, userop_hash, signature

    def forget(self, fact_id):
        self.submit(kc.encode_single_call(kc.prepare_tombstone(fact_id, SMART_ACCOUNT)))

    def blind_search(self, trapdoors, first=50):
        answer = self.indexer.graphql(kc.get_search_query(),
                                      {"trapdoors": trapdoors, "owner": SMART_ACCOUNT, "first": first})
        return kc.parse_search_response(answer)

    def recall(self, question, reformulations=(), top_k=3, min_hits=2):
        queries = [question, *reformulations]
        embeddings = [self.embed(q) for q in queries]
        if reformulations:
            sets = [json.loads(self.blind_search(t))
                    for t in kc.generate_expansion_trapdoors(queries, embeddings, self.hasher)]
            facts = kc.merge_expansion_results(json.dumps(sets), 60.0)
        else:
            facts = self.blind_search(kc.generate_search_trapdoors(question, embeddings[0], self.hasher))
        route = "blind search" + (f" + {len(reformulations)} reformulation(s)" if reformulations else "")
        if len(json.loads(facts)) < min_hits:  # too little: fall back to the most recent facts
            answer = self.indexer.graphql(kc.get_broadened_search_query(), {"owner": SMART_ACCOUNT, "first": 20})
            facts = kc.parse_broadened_response(answer)
            route = "broadened fallback"
        ranked = json.loads(kc.decrypt_and_rerank(facts, question, embeddings[0], self.keys["encryption_key"],
                                                  top_k))
        return ranked, route

    def recall_block(self, ranked, categories):
        items = [{"category": categories.get(r["id"], "memory"), "text": r["text"],
                  "created_at": unix_seconds(r["timestamp"])} for r in ranked]
        return kc.format_recall_context(json.dumps(items), int(time.time()))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--db", help="SQLite file of the stand-in indexer (default: a temporary folder)")
    parser.add_argument("--sentence-transformer", metavar="MODEL",
                        help="embed with a sentence-transformers model instead of the hashed bag of words")
    args = parser.parse_args(argv)
    embed = SentenceTransformerEmbedder(args.sentence_transformer) if args.sentence_transformer \
        else HashedBagOfWords()

    with tempfile.TemporaryDirectory() as tmp:
        db_path = args.db or str(Path(tmp) / "indexer.sqlite")
        vault = Vault(LocalIndexer(db_path), embed)
        print("== keys")
        print("auth key hash:  ", kc.compute_auth_key_hash(vault.keys["auth_key"]))
        print("LSH seed length:", len(kc.derive_lsh_seed(PHRASE, vault.keys["salt"])), "bytes")
        print("signing account:", vault.account["address"])
        sealed = kc.encrypt("a memory", vault.keys["encryption_key"])
        assert kc.decrypt(sealed, vault.keys["encryption_key"]) == "a memory"

        print("\n== store")
        prepared, calldata, userop_hash, signature = vault.store(FACTS)
        for fact, (text, _, source) in zip(prepared, FACTS):
            print(f"fact {fact['fact_id']}  {len(fact['blind_indices']):3d} index terms  decay "
                  f"{fact['decay_score']:.1f}  {text[:40]}…")
        print("batch call data:", len(calldata), "bytes for", len(prepared), "facts")
        print("user operation hash:", "0x" + userop_hash.hex())
        signer = recover_signer(userop_hash, signature)
        if signer is None:
            print("recovered signer: (coincurve/pycryptodomex not installed; check skipped)")
        else:
            print("recovered signer:", signer, "matches the account:", "yes" if signer == vault.account["address"]
                  else "NO")
        ids = [f["fact_id"] for f in prepared]
        print("indexed and active:", all(vault.confirmed(i) for i in ids))

        porto = ids[2]
        vault.forget(porto)
        print("deleted with a tombstone:", porto, "still active:", vault.confirmed(porto))

        print("\n== search")
        categories = {f["fact_id"]: source for f, (_, _, source) in zip(prepared, FACTS)}
        questions = [
            ("What coffee does the user drink?", ()),
            ("Where does the user live?", ()),
            ("Any food allergies?", ("Is the user allergic to peanuts?",)),
            ("Tell me something I should remember", ()),
        ]
        blocks = []
        for question, reformulations in questions:
            ranked, route = vault.recall(question, reformulations)
            print(f"Q: {question}  [{route}]")
            for r in ranked:
                print(f"   {r['score']:.5f}  {r['text']}")
            blocks.append(vault.recall_block(ranked, categories))
        print(f"\n== recall block for the agent's prompt ({questions[0][0]})")
        print(blocks[0])


if __name__ == "__main__":
    sys.exit(main())
