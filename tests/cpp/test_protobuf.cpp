// The layers of the store path that no Python function reaches directly:
// the tombstone clock format with injected times, the record encoder, the
// PreparedFact JSON writer and the call selectors.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "check.hpp"
#include "store/calldata.hpp"
#include "store/prepared_fact.hpp"
#include "store/protobuf.hpp"

using namespace kc;

namespace {

Bytes bytes_of(std::initializer_list<int> v) {
    Bytes out;
    for (int b : v) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

void append(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

std::string hex(const Bytes& b) { return to_hex(b); }

}  // namespace

KC_TEST(tombstone_timestamp_fraction_digits_and_years) {
    struct {
        std::int64_t seconds;
        std::uint32_t nanos;
        const char* text;
    } cases[] = {
        {0, 0, "1970-01-01T00:00:00+00:00"},
        {1735787045, 0, "2025-01-02T03:04:05+00:00"},
        {1735787045, 123'000'000, "2025-01-02T03:04:05.123+00:00"},
        {1735787045, 100'000'000, "2025-01-02T03:04:05.100+00:00"},
        {1735787045, 1'000'000, "2025-01-02T03:04:05.001+00:00"},
        {1735787045, 123'456'000, "2025-01-02T03:04:05.123456+00:00"},
        {1735787045, 1'000, "2025-01-02T03:04:05.000001+00:00"},
        {1735787045, 123'456'789, "2025-01-02T03:04:05.123456789+00:00"},
        {1735787045, 1, "2025-01-02T03:04:05.000000001+00:00"},
        {1735787045, 999'999'999, "2025-01-02T03:04:05.999999999+00:00"},
        {951868799, 500'000'000, "2000-02-29T23:59:59.500+00:00"},
        {-1, 0, "1969-12-31T23:59:59+00:00"},
        {-62135596800, 0, "0001-01-01T00:00:00+00:00"},
        {-62167219200, 0, "0000-01-01T00:00:00+00:00"},
        {-62167219201, 0, "-0001-12-31T23:59:59+00:00"},
        {253402300800, 0, "+10000-01-01T00:00:00+00:00"},
    };
    for (const auto& c : cases)
        CHECK_EQ(store::format_tombstone_timestamp(UtcTime{c.seconds, c.nanos}), std::string(c.text));
    // Out-of-range nanoseconds are held at the last representable value.
    CHECK_EQ(store::format_tombstone_timestamp(UtcTime{0, 4'000'000'000u}),
             std::string("1970-01-01T00:00:00.999999999+00:00"));
    // Extreme ends of the clock format without trouble.
    CHECK(!store::format_tombstone_timestamp(UtcTime{std::numeric_limits<std::int64_t>::min(), 0}).empty());
    CHECK(!store::format_tombstone_timestamp(UtcTime{std::numeric_limits<std::int64_t>::max(), 0}).empty());
}

KC_TEST(tombstone_bytes_with_injected_time) {
    Bytes expected = bytes_of({0x0A, 3});
    append(expected, "f-1");
    std::string ts = "2025-01-02T03:04:05.123+00:00";
    expected.push_back(0x12);
    expected.push_back(static_cast<std::uint8_t>(ts.size()));
    append(expected, ts);
    expected.push_back(0x1A);
    expected.push_back(4);
    append(expected, "0xab");
    Bytes tail = bytes_of({0x22, 0x00, 0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0x38, 0x00, 0x40, 0x04});
    expected.insert(expected.end(), tail.begin(), tail.end());
    CHECK_EQ(hex(store::encode_tombstone_protobuf("f-1", "0xab", 4, UtcTime{1735787045, 123'000'000})),
             hex(expected));
    // Version 0 is the default; empty texts write nothing.
    Bytes bare = store::encode_tombstone_protobuf("", "", 0, UtcTime{0, 0});
    CHECK_EQ(bare.front(), std::uint8_t{0x12});
    CHECK_EQ(bare.back(), std::uint8_t{0x03});
}

KC_TEST(fact_record_encoder) {
    store::FactPayload p;
    p.id = "i";
    p.owner = "o";
    p.encrypted_blob_hex = "0aFF";
    p.blind_indices = {"x", "", "yz"};
    p.decay_score = 1.0;
    p.source = "never on the wire";
    p.agent_id = "nor this";
    p.content_fp = "c";
    p.encrypted_embedding = "e";
    Bytes expected = bytes_of({0x0A, 1, 'i', 0x1A, 1, 'o', 0x22, 2, 0x0A, 0xFF, 0x2A, 1, 'x', 0x2A, 2, 'y', 'z',
                               0x31, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0x38, 0x01, 0x40, 0x03, 0x52, 1, 'c', 0x6A, 1,
                               'e'});
    CHECK_EQ(hex(store::encode_fact_protobuf(p)), hex(expected));
    p.encrypted_embedding = std::string();
    p.version = 300;
    p.encrypted_blob_hex = "0x0a";
    Bytes second = bytes_of({0x0A, 1, 'i', 0x1A, 1, 'o', 0x2A, 1, 'x', 0x2A, 2, 'y', 'z', 0x31, 0, 0, 0, 0, 0, 0,
                             0xF0, 0x3F, 0x38, 0x01, 0x40, 0xAC, 0x02, 0x52, 1, 'c'});
    CHECK_EQ(hex(store::encode_fact_protobuf(p)), hex(second));
}

KC_TEST(lenient_reader_fills_the_record) {
    auto p = store::fact_payload_from_json(
        R"({"id":"a","blind_indices":["x",1,"y"],"source":"s","agent_id":7,"encrypted_embedding":null,"version":-2})");
    CHECK(p.has_value());
    if (!p) return;
    CHECK_EQ(p->id, std::string("a"));
    CHECK_EQ(p->blind_indices.size(), std::size_t{2});
    CHECK_EQ(p->source, std::string("s"));
    CHECK_EQ(p->agent_id, std::string(""));
    CHECK(!p->encrypted_embedding.has_value());
    CHECK_EQ(p->decay_score, 0.8);
    CHECK_EQ(p->version, store::default_fact_version);
    auto bad = store::fact_payload_from_json("[1]");
    CHECK(!bad.has_value() && bad.error().message == "expected JSON object" && bad.error().kind == ErrorKind::Parse);
}

KC_TEST(prepared_fact_json_text) {
    store::PreparedFact f;
    f.fact_id = "0190a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b";
    f.timestamp = "2025-01-02T03:04:05.678Z";
    f.owner = "0xAbC";
    f.encrypted_blob_hex = "00ff";
    f.blind_indices = {"aa", "b\"b"};
    f.decay_score = 0.7;
    f.source = "conversation";
    f.content_fp = "fp";
    f.agent_id = "agent/1";
    f.encrypted_embedding = "emb==";
    f.protobuf_bytes = bytes_of({0, 10, 255});
    auto text = store::to_json(f);
    CHECK(text.has_value());
    CHECK_EQ(*text, std::string(R"({"fact_id":"0190a1b2-c3d4-7e5f-8a9b-0c1d2e3f4a5b",)"
                                R"("timestamp":"2025-01-02T03:04:05.678Z","owner":"0xAbC",)"
                                R"("encrypted_blob_hex":"00ff","blind_indices":["aa","b\"b"],)"
                                R"("decay_score":0.7,"source":"conversation","content_fp":"fp",)"
                                R"("agent_id":"agent/1","encrypted_embedding":"emb==","protobuf_bytes":[0,10,255]})"));

    // Absent embedding is null; integral and non-finite decay scores.
    f.encrypted_embedding.reset();
    f.decay_score = 1.0;
    f.blind_indices.clear();
    f.protobuf_bytes.clear();
    auto second = store::to_json(f);
    CHECK(second.has_value());
    CHECK(second->find(R"("blind_indices":[],"decay_score":1.0,)") != std::string::npos);
    CHECK(second->find(R"("encrypted_embedding":null,"protobuf_bytes":[]})") != std::string::npos);
    f.decay_score = std::nan("");
    auto third = store::to_json(f);
    CHECK(third.has_value() && third->find(R"("decay_score":null,)") != std::string::npos);

    // The strict reader takes the writer's text back, but not a null score.
    f.decay_score = 0.25;
    f.protobuf_bytes = bytes_of({1, 2, 3});
    auto round = store::parse_prepared_fact(*store::to_json(f));
    CHECK(round.has_value());
    if (round) {
        CHECK_EQ(round->fact_id, f.fact_id);
        CHECK_EQ(round->decay_score, 0.25);
        CHECK(!round->encrypted_embedding.has_value());
        CHECK_EQ(hex(round->protobuf_bytes), std::string("010203"));
    }
    auto null_score = store::parse_prepared_fact(*third);
    CHECK(!null_score.has_value());
    if (!null_score) CHECK(null_score.error().message.starts_with("Invalid PreparedFact JSON: "));
}

KC_TEST(call_selectors) {
    CHECK_EQ(hex(Bytes(store::execute_selector().begin(), store::execute_selector().end())),
             std::string("b61d27f6"));
    CHECK_EQ(hex(Bytes(store::execute_batch_selector().begin(), store::execute_batch_selector().end())),
             std::string("47e1da2a"));
    CHECK(store::parse_data_edge_address(store::default_data_edge_address).has_value());
}
