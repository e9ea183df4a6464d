#include "app/check_zabbix.h"

#include <algorithm>
#include <cerrno>

#include "text/excerpt.h"
#include "text/joined.h"
#include "vendor/tcp_client.h"

namespace ixc {
namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

constexpr auto kProbeLimit = 10s;
constexpr auto kValuesLimit = 30s;
constexpr int kProbes = 3;
constexpr std::size_t kShownInfoBytes = 300;
constexpr std::string_view kEmptyRequest = R"({"request":"sender data","data":[]})";

Seconds median(std::vector<Seconds> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

template <class Call>
Seconds timed(Call&& call) {
  auto started = std::chrono::steady_clock::now();
  call();
  return std::chrono::steady_clock::now() - started;
}

std::string node_text(const kestrelkit::ZabbixAddress& node) {
  return kestrelkit::tcp_peer_text(node.host, node.port);
}

// The node that the next value goes to.
std::string server_text(const kestrelkit::ZabbixServer& zabbix_server) {
  return "Zabbix " + node_text(zabbix_server.nodes[zabbix_server.answering]);
}

// Of a cluster only the active node listens: each node is asked once, and the values of the
// checks after this one go to the first that answers, as a collection's would.
CheckLine cluster_line(const kestrelkit::ZabbixServer& zabbix_server) {
  std::vector<std::string> states;
  std::optional<std::size_t> active;
  bool unreachable = false;
  for (std::size_t i = 0; i < zabbix_server.nodes.size(); ++i) {
    const kestrelkit::ZabbixAddress& node = zabbix_server.nodes[i];
    std::string state;
    auto failure = failure_of(kProbeLimit, [&] {
      try {
        kestrelkit::send_sender_request(zabbix_server, node, kEmptyRequest);
        state = "ativo";
        if (!active) active = i;
      } catch (const kestrelkit::ZabbixNodeUnreachable& error) {
        bool refused =
            std::string_view(error.what()).ends_with(kestrelkit::tcp_error_text(ECONNREFUSED));
        unreachable = unreachable || !refused;
        state = refused ? "em espera (recusa conexões)"
                        : "inalcançável (" + std::string(error.what()) + ")";
      }
    });
    // A node that takes the connection and then fails the exchange answered: it is no standby.
    if (failure) state = "responde com falha (" + *failure + ")";
    states.push_back(node_text(node) + " " + state);
  }
  std::string found = "Zabbix " + joined(states);
  if (!active) {
    return {Mark::falha, "Zabbix cluster",
            found + ": nenhum nó ativo; os valores de uma coleta não seriam entregues"};
  }
  zabbix_server.answering = *active;
  return {unreachable ? Mark::aviso : Mark::ok, "Zabbix cluster", found};
}

bool uses_psk(const kestrelkit::ZabbixServer& zabbix_server) {
  return zabbix_server.tls.connect == kestrelkit::ZabbixTlsConnect::psk;
}

CheckLine connection_line(const kestrelkit::ZabbixServer& zabbix_server, ZabbixCheck& check) {
  std::string where = server_text(zabbix_server);
  std::vector<Seconds> times;
  kestrelkit::SenderReply reply;
  auto failure = failure_of(kProbeLimit, [&] {
    for (int i = 0; i < kProbes; ++i) {
      times.push_back(
          timed([&] { reply = kestrelkit::send_sender_request(zabbix_server, kEmptyRequest); }));
    }
  });
  if (failure) {
    if (!failure->starts_with(where)) *failure = where + ": " + *failure;
    return {Mark::falha, "Zabbix conexão", *failure + " (valores não enviados)"};
  }
  std::string transport =
      uses_psk(zabbix_server)
          ? "em TLS com PSK (identidade '" + zabbix_server.tls.psk_identity + "', handshake aceito)"
          : "em texto claro (IXC_ZABBIX_TLS_CONNECT=unencrypted)";
  if (reply.response != "success") {
    return {Mark::falha, "Zabbix conexão",
            where + ": respondeu \"" + reply.response +
                "\" a um pedido vazio: " + one_line_excerpt(reply.info, kShownInfoBytes)};
  }
  Seconds exchange = median(times);
  check.exchange = exchange;
  return {Mark::ok, "Zabbix conexão",
          where + " responde no protocolo Zabbix " + transport + "; uma troca (conexão, pedido " +
              "e resposta) leva " + duration_text(exchange) + ", ida e volta de cerca de " +
              duration_text(exchange / 2)};
}

// What the replies can tell apart: a host that takes none of the values is unknown to this
// server or not its to take, whatever the item; one that takes some lacks the others' items.
std::string likely_causes(const kestrelkit::ZabbixServer& zabbix_server,
                          const std::string& zabbix_host, bool none_taken) {
  if (!none_taken) {
    return "o host existe e aceita esta conexão, mas estes itens faltam, estão desativados, não "
           "são do tipo Zabbix trapper ou não permitem este endereço (\"Hosts permitidos\")";
  }
  std::string causes =
      "nenhum host de nome '" + zabbix_host +
      "' neste servidor (vale o nome do host, não o nome visível; maiúsculas contam); o host "
      "está desativado ou é monitorado por um proxy (os valores vão então ao proxy); o template "
      "\"IXC Atraso de clientes\" não está vinculado a ele; os itens não permitem este endereço "
      "(\"Hosts permitidos\"); o host ou o template é de menos de um minuto e o servidor ainda "
      "não o carregou (CacheUpdateFrequency)";
  causes += uses_psk(zabbix_server)
                ? "; o host não aceita PSK com a identidade '" + zabbix_server.tls.psk_identity +
                      "' e esta chave (Criptografia → Conexões do host)"
                : "; o host só aceita conexões criptografadas (PSK) e esta compilação envia em "
                  "texto claro (IXC_ZABBIX_TLS_CONNECT=unencrypted)";
  return causes;
}

CheckLine values_line(const kestrelkit::ZabbixServer& zabbix_server, const std::string& zabbix_host,
                      const std::vector<TotalItem>& totals, ZabbixCheck& check) {
  std::string where = server_text(zabbix_server);
  std::vector<Seconds> times;
  std::vector<std::string> refused;
  std::string failed_reply;
  auto failure = failure_of(kValuesLimit, [&] {
    for (const TotalItem& item : totals) {
      kestrelkit::SenderReply reply;
      times.push_back(timed([&] {
        reply = kestrelkit::send_zabbix(zabbix_server, zabbix_host, item.key, item.value);
      }));
      if (reply.response != "success") failed_reply = one_line_excerpt(reply.info, kShownInfoBytes);
      if (reply.response != "success" || reply.processed != 1) refused.emplace_back(item.key);
    }
  });
  if (!times.empty()) check.per_value = median(times);
  if (failure) {
    if (!failure->starts_with(where)) *failure = where + ": " + *failure;
    return {Mark::falha, "Zabbix valores",
            *failure + " (" + std::to_string(times.size()) + " de " +
                std::to_string(totals.size()) + " totais enviados)"};
  }
  std::string count = std::to_string(totals.size());
  if (refused.empty()) {
    return {Mark::ok, "Zabbix valores",
            where + ": o host '" + zabbix_host + "' aceitou os " + count +
                " totais (processed: 1 em cada), " + duration_text(*check.per_value) +
                " por valor"};
  }
  std::string keys = joined(refused);
  std::string found = where + ": o host '" + zabbix_host + "' recusou " +
                      std::to_string(refused.size()) + " de " + count + " totais (" + keys + ")";
  if (!failed_reply.empty()) found += "; o servidor respondeu failed: " + failed_reply;
  return {Mark::falha, "Zabbix valores",
          found + "; causas prováveis: " +
              likely_causes(zabbix_server, zabbix_host, refused.size() == totals.size())};
}

}  // namespace

ZabbixCheck check_zabbix(const kestrelkit::ZabbixServer& zabbix_server,
                         const std::string& zabbix_host,
                         const std::optional<std::vector<TotalItem>>& totals, CheckReport& report) {
  ZabbixCheck check;
  if (zabbix_server.nodes.size() > 1) ixc::report(report, cluster_line(zabbix_server));
  CheckLine connection = connection_line(zabbix_server, check);
  bool reachable = connection.mark != Mark::falha;
  ixc::report(report, std::move(connection));
  if (!reachable) return check;
  if (zabbix_host == "debug") {
    ixc::report(report, {Mark::aviso, "Zabbix valores",
                         "ZABBIX_HOST é debug: uma coleta assim só mostra o relatório e não "
                         "envia nada; nenhum valor enviado"});
  } else if (!totals) {
    ixc::report(report, {Mark::aviso, "Zabbix valores",
                         "sem as linhas do ERP não há totais a enviar; não se sabe se o host '" +
                             zabbix_host + "' aceita valores"});
  } else {
    ixc::report(report, values_line(zabbix_server, zabbix_host, *totals, check));
  }
  return check;
}

}  // namespace ixc
