// The values of the JSON documents that `kpdev --json` prints and kpdevd
// answers with: one writer for each, so that the tool and the service
// cannot drift apart.  Pure: built from what the library handed back.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kpdev::tool {

// The library's version number ("2.0.0.2"): the date after it is left
// out, since it is not in the caller's encoding.
std::string LibraryVersion();

// A library result: "-4 KP_DEV_ERR_READ (serial read failure or timeout)",
// and as {"code": -4, "name": "KP_DEV_ERR_READ", "text": "..."}.
std::string ResultText(int code);
nlohmann::json ResultJson(int code);

// An answer to reset as hex text: its fields and "hex"; the text as it is
// when it is empty or not hex.
nlohmann::json AtrDocument(const std::string& hex);

// Track 2 (equivalent) data or a magnetic track 1: its fields and "text".
nlohmann::json TrackDocument(const std::string& text, bool track1 = false);

// The card kinds of the read-any-card loop: 1 "magnetic stripe card" ...
// 5 "resident identity card", anything else "none".
const char* CardKindName(int kind);

// Printable ASCII as it is, any other byte as \xHH (tracks, and texts in
// an encoding of their own).
std::string Visible(const std::string& text);

// The read-any-card loop's result text split at its bars.
std::vector<std::string> SplitBars(const std::string& text);

}  // namespace kpdev::tool
