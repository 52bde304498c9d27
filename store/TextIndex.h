// The text index of the history's text filter (SQLite's FTS5 with trigrams): how it is made,
// kept in step, filled for older stores, emptied after damage, and asked.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/MessageStore.h"

namespace qm::sql {

// Whether the store has its text index's triggers (an older build's, or a damaged index's, has none).
bool HasTextIndex(sqlite3* db, const std::string& path);
// Whether the text index holds every message (a store of an older build has none yet).
bool TextIndexComplete(sqlite3* db);

// The messages kept since the index's last batch, not yet in it (the ids given since, so
// with those purged meanwhile).
std::size_t TextNotIndexed(sqlite3* db, const std::string& path);

// Inside the open's write transaction: makes the index, its mark and its triggers when the
// store has none, or takes over an index kept by a trigger on every insert (earlier builds). Without FTS5 or
// its trigrams in this SQLite the store goes on without it.
void MakeTextIndex(sqlite3* db, const std::string& path);
// After the open's transaction: an index that cannot be read loses its triggers.
void LeaveUnreadableTextIndex(sqlite3* db, const std::string& path);
// For a repair: the triggers go, so that changes no longer touch the index.
void StopTextIndex(sqlite3* db, const std::string& path);
// For a repair: the index emptied and its triggers back, to be filled again a step at a time.
void RestartTextIndex(sqlite3* db, const std::string& path);

// The text index's question for `text`: each of its trigrams as a term of its own, all of
// them asked for; empty when it has none. Only trigrams of ASCII characters (NUL aside): the
// index reads a text as UTF-8, and a byte past ASCII may join its neighbours in a stored text
// other than in the text searched for.
std::string TrigramQuery(std::string_view text);

// The ids a filter with a text lets through, newest first, found through the text index:
// the messages holding every trigram of the text, each checked by `conditions` (the whole
// filter, its text by LIKE). Nothing when the index cannot answer (not complete, no trigram
// to ask for, too many candidates).
std::optional<std::vector<std::int64_t>> FindThroughTextIndex(
    sqlite3* db, const std::string& path, const THistoryFilter& filter, const std::string& conditions,
    const std::vector<std::string>& params, std::size_t limit, const std::function<bool()>& stop);

}  // namespace qm::sql
