#include "zabbix_trapper/request_record.h"

namespace trapper {

std::string record_line(std::string_view raw, const nlohmann::ordered_json& request) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string line;
  line.reserve(32 + raw.size() * 3);
  line.append(R"({"raw":")");
  for (unsigned char c : raw) {
    line.push_back(kHex[c >> 4]);
    line.push_back(kHex[c & 0x0f]);
  }
  line.append(R"(","request":)");
  if (request.is_discarded()) {
    line.append("null");
  } else {
    line.append(request.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
  }
  line.append("}\n");
  return line;
}

}  // namespace trapper
