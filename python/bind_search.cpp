// Blind search: the GraphQL texts, the readers of the indexer's answers,
// the blob converter and the merge of reformulated searches.
#include <cstring>

#include "families.hpp"
#include "search/blind_search.hpp"
#include "search/decrypt_rerank.hpp"
#include "search/expansion.hpp"
#include "search/trapdoors.hpp"

namespace kc::py {
namespace {

PyObject* fact_list(const Result<std::vector<search::SubgraphFact>>& facts) {
    return ret_json(facts, [](const std::vector<search::SubgraphFact>& f) { return search::to_json(f); });
}

// The query texts are ASCII (asserted at compile time where they are
// defined), so the str is filled directly, without decoding or a scan for
// the widest character: these calls cost little more than a bare call.
PyObject* ascii_text(std::string_view s) {
    PyObject* o = PyUnicode_New(static_cast<Py_ssize_t>(s.size()), 127);
    if (o) std::memcpy(PyUnicode_DATA(o), s.data(), s.size());
    return o;
}

PyObject* parse_search_response(std::string_view response_json) {
    return fact_list(search::parse_search_response(response_json));
}

PyObject* parse_broadened_response(std::string_view response_json) {
    return fact_list(search::parse_broadened_response(response_json));
}

PyObject* get_search_query() { return ascii_text(search::search_query()); }
PyObject* get_broadened_search_query() { return ascii_text(search::broadened_search_query()); }
PyObject* get_export_query() { return ascii_text(search::export_query()); }

PyObject* hex_blob_to_base64(std::string_view hex_blob) { return to_py(search::hex_blob_to_base64(hex_blob)); }

PyObject* generate_search_trapdoors(std::string_view query, Floats32 query_embedding, LshRef lsh_hasher) {
    return ret(search::generate_search_trapdoors(query, query_embedding, *lsh_hasher));
}

PyObject* generate_expansion_trapdoors(std::vector<std::string> queries, std::vector<Floats32> embeddings,
                                       LshRef lsh_hasher) {
    std::vector<std::vector<float>> vectors(embeddings.begin(), embeddings.end());
    return ret(search::generate_expansion_trapdoors(queries, vectors, *lsh_hasher));
}

PyObject* decrypt_and_rerank(std::string_view facts_json, std::string_view query, Floats32 query_embedding,
                             ByteView encryption_key, std::uint64_t top_k) {
    if (!require_len(encryption_key, 32)) return nullptr;
    auto facts = search::parse_subgraph_fact_array(facts_json);
    if (!facts) {
        to_pyerr(facts.error());
        return nullptr;
    }
    auto ranked = search::decrypt_and_rerank_with_key(*facts, query, query_embedding, encryption_key, top_k);
    return ret_json(search::to_json(ranked));
}

PyObject* merge_expansion_results(std::string_view fact_sets_json, double rrf_k) {
    return fact_list(search::merge_expansion_results_json(fact_sets_json, rrf_k));
}

}  // namespace

std::vector<PyMethodDef> search_functions() {
    return {
        def<"generate_search_trapdoors(query, query_embedding, lsh_hasher)", generate_search_trapdoors>(
            "The search trapdoors of a query: its blind indices followed by the LSH bucket hashes of its\n"
            "embedding, in the order produced."),
        def<"parse_search_response(response_json)", parse_search_response>(
            "Read the `data` object of a SearchByBlindIndex answer into a JSON array of facts.\n\n"
            "Entries without a fact and facts with isActive false are skipped; a fact reached through "
            "several trapdoors appears once, at its first hit."),
        def<"parse_broadened_response(response_json)", parse_broadened_response>(
            "Read the `data` object of a BroadenedSearch or ExportFacts answer into a JSON array of facts, "
            "dropping those with isActive false."),
        def<"decrypt_and_rerank(facts_json, query, query_embedding, encryption_key, top_k)", decrypt_and_rerank>(
            "Decrypt the facts of a search answer (a JSON array of SubgraphFact) with the 32-byte vault key and\n"
            "rank the readable ones for the query (BM25, cosine similarity, rank fusion); unreadable facts are\n"
            "skipped. Returns the JSON array of at most top_k RankedResult records, best first."),
        def<"get_search_query()", get_search_query>(
            "The SearchByBlindIndex GraphQL query ($trapdoors, $owner, $first)."),
        def<"get_broadened_search_query()", get_broadened_search_query>(
            "The BroadenedSearch GraphQL query ($owner, $first): the owner's most recent active facts."),
        def<"get_export_query()", get_export_query>(
            "The ExportFacts GraphQL query ($owner, $first, $skip) paging through all active facts."),
        def<"hex_blob_to_base64(hex_blob)", hex_blob_to_base64>(
            "Convert an encrypted blob's hex text (optionally 0x-prefixed) to padded base64; None for bad hex."),
        def<"generate_expansion_trapdoors(queries, embeddings, lsh_hasher)", generate_expansion_trapdoors>(
            "The trapdoors of a query and its reformulations: one list per (query, embedding) pair, in order."),
        def<"merge_expansion_results(fact_sets_json, rrf_k)", merge_expansion_results>(
            "Merge the fact arrays of several query formulations by reciprocal rank fusion (rrf_k usually "
            "60.0) into one JSON fact array."),
    };
}

}  // namespace kc::py
