// The JSON that the commands' --json prints: every value made here, so every
// command escapes and lays out alike. Pure code: text out.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quorin::packer {

// A member: its name and its value, already JSON.
using JsonMember = std::pair<std::string, std::string>;

// A string value: quotes and backslashes escaped, control characters as
// \u00XX; other bytes pass as they are (the texts are UTF-8).
std::string json_string(const std::string& text);

const char* json_bool(bool value);

// A number with that many decimals ("%.4f").
std::string json_fixed(double value, int decimals);

// {"a": 1, "b": 2} on one line.
std::string json_line_object(const std::vector<JsonMember>& members);

// [1, 2] on one line.
std::string json_line_array(const std::vector<std::string>& items);

// A member's array with an item a line, at the depth of a document's
// members: "[\n    1,\n    2\n  ]"; "[]" when empty.
std::string json_block_array(const std::vector<std::string>& items);

// The whole output: "{\n", a member a line indented by two, "}\n".
std::string json_document(const std::vector<JsonMember>& members);

}  // namespace quorin::packer
