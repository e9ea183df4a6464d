#include "discovery/discovery_document.h"

#include "text/float_repr.h"
#include "text/json_text.h"
#include "text/python_repr.h"

namespace ixc {
namespace {

void append_value(std::string& out, std::int64_t value) { append_int_repr(out, value); }
void append_value(std::string& out, double value) { append_float_repr(out, value); }
void append_value(std::string& out, const std::string& value) { append_ascii_json_string(out, value); }
void append_value(std::string& out, const std::optional<std::string>& value) {
  if (value) {
    append_ascii_json_string(out, *value);
  } else {
    out += "null";
  }
}

}  // namespace

std::string build_discovery_document(const std::vector<ClientZbxRecord>& descobertaClientesZbx) {
  std::string out;
  out.reserve(64 + descobertaClientesZbx.size() * 256);
  out += "{\"data\": [";
  bool first_record = true;
  for (const ClientZbxRecord& record : descobertaClientesZbx) {
    out += first_record ? "{" : ", {";
    first_record = false;
    bool first_field = true;
    visit_fields(record, [&](const char* key, const auto& value) {
      if (!first_field) out += ", ";
      first_field = false;
      append_ascii_json_string(out, key);
      out += ": ";
      append_value(out, value);
    });
    out += '}';
  }
  out += "]}";
  return out;
}

}  // namespace ixc
