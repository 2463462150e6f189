// Call data for the user's SimpleAccount: `execute` for one fact payload and
// `executeBatch` for two to thirty, each call aimed at the DataEdge contract,
// which receives the protobuf payload itself as its call data.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "frame/error.hpp"
#include "frame/text.hpp"
#include "store/prepared_fact.hpp"

namespace kc::store {

// Deployment constant: the DataEdge contract address used when the caller
// names none. Callers that know their chain and environment pass the
// address the relay reports (its `data_edge_address`) instead. Update this
// value when the production contract is redeployed.
inline constexpr std::string_view default_data_edge_address = "0x7d1e3b0c5a2f94e6b8c04d17a3e9f25b6c80d4a1";

// Most payloads one executeBatch call may carry.
inline constexpr std::size_t max_batch_size = 30;

using Address = std::array<std::uint8_t, 20>;

// An address text: an optional lower-case "0x" then exactly 40 hex digits of
// either case (no checksum check).
// Error (InvalidInput): "invalid DataEdge address: {text as given}".
Result<Address> parse_data_edge_address(std::string_view text);

// Keccak-256 selectors of execute(address,uint256,bytes) and
// executeBatch(address[],uint256[],bytes[]).
const std::array<std::uint8_t, 4>& execute_selector();
const std::array<std::uint8_t, 4>& execute_batch_selector();

// execute(address, 0, payload): 4 + 128 + pad32(len) bytes.
// Error: the address error of parse_data_edge_address.
Result<Bytes> encode_single_call_to(ByteView payload, std::string_view data_edge_address);

// executeBatch(addresses, zeros, payloads) for 2..30 payloads in order; a
// single payload is encoded as execute. Checks, in this order (all
// InvalidInput): "Batch must contain at least 1 payload", "Batch size {n}
// exceeds maximum of 30", then the address error.
Result<Bytes> encode_batch_call_to(std::span<const ByteView> payloads, std::string_view data_edge_address);
Result<Bytes> encode_batch_call_to(std::span<const Bytes> payloads, std::string_view data_edge_address);

// execute of one prepared fact's protobuf_bytes, to the default address.
// Cannot fail in practice (the default address always parses).
Result<Bytes> build_single_calldata(const PreparedFact& fact);

// encode_batch_call_to of every fact's protobuf_bytes, in order, to the
// default address. Errors: the batch-count errors of encode_batch_call_to.
Result<Bytes> build_batch_calldata(std::span<const PreparedFact> facts);

}  // namespace kc::store
