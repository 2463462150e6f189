// Index confirmation and the recall block.
#include "families.hpp"
#include "search/recall.hpp"

namespace kc::py {
namespace {

PyObject* confirm_indexed_query() { return to_py(search::confirm_indexed_query()); }

PyObject* confirm_indexed_parse(std::string_view response_json) {
    return ret(search::parse_indexed_response(response_json));
}

PyObject* confirm_indexed_default_poll_ms() { return PyLong_FromLong(search::confirm_indexed_default_poll_ms); }
PyObject* confirm_indexed_default_timeout_ms() {
    return PyLong_FromLong(search::confirm_indexed_default_timeout_ms);
}

PyObject* format_memory_date(std::int64_t created_at_unix) {
    return to_py(search::format_memory_date(created_at_unix));
}

PyObject* recall_context_header(std::int64_t now_unix) { return to_py(search::recall_context_header(now_unix)); }

PyObject* format_recall_context(std::string_view items_json, std::int64_t now_unix) {
    return to_py(search::format_recall_context(items_json, now_unix));
}

}  // namespace

std::vector<PyMethodDef> recall_functions() {
    return {
        def<"confirm_indexed_query()", confirm_indexed_query>(
            "The ConfirmIndexed GraphQL query ($id) the host polls after submitting a fact."),
        def<"confirm_indexed_parse(response_json)", confirm_indexed_parse>(
            "True when the indexer's answer ({\"data\": {\"fact\": ...}} or {\"fact\": ...}) shows the fact "
            "indexed and active."),
        def<"confirm_indexed_default_poll_ms()", confirm_indexed_default_poll_ms>(
            "Default polling interval of the confirmation loop, in milliseconds."),
        def<"confirm_indexed_default_timeout_ms()", confirm_indexed_default_timeout_ms>(
            "Default total timeout of the confirmation loop, in milliseconds."),
        def<"format_memory_date(created_at_unix)", format_memory_date>(
            "UTC date YYYY-MM-DD of Unix seconds; empty for 0 or less and beyond year 262142."),
        def<"recall_context_header(now_unix)", recall_context_header>(
            "The header of the recall block, stating the date of now_unix; ends with a line feed."),
        def<"format_recall_context(items_json, now_unix)", format_recall_context>(
            "The recall block: the header, then one line per memory of the JSON item array "
            "({category, text, created_at}); unreadable items give the header alone."),
        // segment_sessions (timestamps, embeddings, gap_seconds=1800.0, sim_threshold=0.55) goes here.
    };
}

}  // namespace kc::py
