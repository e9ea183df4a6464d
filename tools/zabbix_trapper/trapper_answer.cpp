#include "zabbix_trapper/trapper_answer.h"

#include <array>
#include <cstdint>

namespace trapper {
namespace {

constexpr std::size_t kHeaderSize = 13;
constexpr std::size_t kRequestLimit = std::size_t{1} << 30;

std::string frame(std::string_view body, std::uint32_t announced) {
  std::string bytes("ZBXD\x01", 5);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((announced >> (8 * i)) & 0xff));
  bytes.append(4, '\0');
  bytes.append(body);
  return bytes;
}

std::string frame(std::string_view body) {
  return frame(body, static_cast<std::uint32_t>(body.size()));
}

std::string counts_reply(std::size_t processed, std::size_t failed) {
  return R"({"response":"success","info":"processed: )" + std::to_string(processed) +
         "; failed: " + std::to_string(failed) + "; total: " + std::to_string(processed + failed) +
         R"(; seconds spent: 0.000029"})";
}

constexpr std::string_view kParseFailure =
    R"({"response":"failed","info":"cannot parse as a valid JSON object: invalid object format,)"
    R"( expected opening character '{' or '[' at: ''"})";

}  // namespace

std::optional<Fault> parse_fault(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, Fault>, 11> kNames{{
      {"none", Fault::none},
      {"silent", Fault::silent},
      {"close", Fault::close},
      {"reset", Fault::reset},
      {"garbage", Fault::garbage},
      {"slow", Fault::slow},
      {"keep", Fault::keep},
      {"failed", Fault::failed},
      {"unknown", Fault::unknown},
      {"oversize", Fault::oversize},
      {"truncated", Fault::truncated},
  }};
  for (const auto& [text, fault] : kNames) {
    if (text == name) return fault;
  }
  return std::nullopt;
}

FrameStatus scan_frame(std::string_view received, std::size_t& frame_size) {
  std::string_view magic = received.substr(0, 4);
  if (std::string_view("ZBXD").substr(0, magic.size()) != magic) return FrameStatus::not_protocol;
  if (received.size() < kHeaderSize) return FrameStatus::incomplete;
  if (received[4] != 0x01) return FrameStatus::not_protocol;
  std::size_t length = 0;
  for (int i = 3; i >= 0; --i) {
    length = (length << 8) | static_cast<unsigned char>(received[5 + i]);
  }
  if (length > kRequestLimit) return FrameStatus::not_protocol;
  frame_size = kHeaderSize + length;
  return received.size() >= frame_size ? FrameStatus::complete : FrameStatus::incomplete;
}

nlohmann::ordered_json decode_body(std::string_view frame) {
  return nlohmann::ordered_json::parse(frame.substr(kHeaderSize), nullptr, false);
}

Answer answer_for(const nlohmann::ordered_json& request, Fault fault) {
  if (fault == Fault::silent) return {"", Answer::Then::hold};
  if (fault == Fault::close) return {"", Answer::Then::close};
  if (fault == Fault::reset) return {"", Answer::Then::reset};
  if (fault == Fault::garbage) return {"HTTP/1.1 400 Bad Request\r\n\r\n", Answer::Then::close};
  if (fault == Fault::oversize) return {frame("", 3u << 30), Answer::Then::close};
  if (fault == Fault::failed || request.is_discarded()) return {frame(kParseFailure)};

  // Like Zabbix, a request that is JSON but not sender data gets the connection closed.
  bool sender_data =
      request.is_object() && request.contains("request") && request["request"] == "sender data";
  if (!sender_data) return {""};
  std::size_t values = 0;
  if (auto data = request.find("data"); data != request.end() && data->is_array()) {
    values = data->size();
  }
  std::string body = fault == Fault::unknown ? counts_reply(0, values) : counts_reply(values, 0);
  if (fault == Fault::truncated) {
    std::string whole = frame(body);
    return {whole.substr(0, kHeaderSize + body.size() / 2)};
  }
  if (fault == Fault::keep) return {frame(body), Answer::Then::hold};
  return {frame(body), Answer::Then::close, fault == Fault::slow};
}

}  // namespace trapper
