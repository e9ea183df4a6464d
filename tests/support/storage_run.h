#pragma once
/// What the storage tests share: pointing the settings record at a QuestDB address, and
/// collecting what a step printed (standard output is buffered until flushed).
#include <gtest/gtest.h>

#include <string>

#include "app/console.h"
#include "app/run_settings.h"

namespace ixc::test {

/// A collection's settings with QuestDB at `address` (ingestion on `ingest_port`).
inline void use_questdb(const std::string& address, const std::string& ingest_port = "9000") {
  RunSettings settings;
  settings.mode = "descobertaClientes";
  settings.quest_db_ip = address;
  settings.quest_db_port = ingest_port;
  settings.zabbix_host = "isp";
  set_run_settings(settings);
}

/// Runs `step` and returns what it printed on standard output.
template <class Step>
std::string stdout_of(Step&& step) {
  testing::internal::CaptureStdout();
  step();
  flush_output();
  return testing::internal::GetCapturedStdout();
}

struct Printed {
  std::string out;
  std::string err;
};

/// Runs `step` and returns what it printed on both streams.
template <class Step>
Printed printed_by(Step&& step) {
  testing::internal::CaptureStderr();
  Printed printed;
  printed.out = stdout_of(step);
  printed.err = testing::internal::GetCapturedStderr();
  return printed;
}

}  // namespace ixc::test
