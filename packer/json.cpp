// The commands' JSON. Pure code.
#include "packer/json.h"

#include <cstdio>

namespace quorin::packer {

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* json_bool(bool value) { return value ? "true" : "false"; }

std::string json_fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string json_line_object(const std::vector<JsonMember>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    out += (i ? ", " : "") + json_string(members[i].first) + ": " + members[i].second;
  }
  return out + "}";
}

std::string json_line_array(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + items[i];
  return out + "]";
}

std::string json_block_array(const std::vector<std::string>& items) {
  if (items.empty()) return "[]";
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ",\n    " : "\n    ") + items[i];
  return out + "\n  ]";
}

std::string json_document(const std::vector<JsonMember>& members) {
  std::string out = "{";
  for (std::size_t i = 0; i < members.size(); ++i) {
    out += (i ? ",\n  " : "\n  ") + json_string(members[i].first) + ": " + members[i].second;
  }
  return out + "\n}\n";
}

}  // namespace quorin::packer
