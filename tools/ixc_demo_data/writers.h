#pragma once
/// The two forms the generated data is written in:
///
/// - SQL: one script of multi-row INSERTs (one statement per chunk and table, well inside the
///   server's default packet limit), in one transaction, for `mariadb DATABASE < file`.
/// - TSV: one file per table in LOAD DATA's default format (tab, backslash escapes, \N for
///   NULL) plus load.sql, which loads them with LOAD DATA LOCAL INFILE (`mariadb
///   --local-infile=1 DATABASE < DIR/load.sql`). The fastest way in for large sizes.
///
/// Receivable dates are written relative to `today`: CURRENT_DATE() when it is empty, so that
/// the data means the same on whatever day it is loaded, or the given day ("YYYY-MM-DD").
#include <cstdio>
#include <string>

#include "erp_rows.h"

namespace demo {

class SqlWriter {
 public:
  SqlWriter(std::FILE* out, std::string today);
  /// Session settings, the cities and the branches.
  void begin();
  void write(const Chunk& chunk);
  void end();

 private:
  void flush();

  std::FILE* out_;
  std::string base_day_;
  std::string text_;
};

class TsvWriter {
 public:
  /// Creates (or overwrites) the files in `folder`, which must exist.
  TsvWriter(const std::string& folder, std::string today);
  ~TsvWriter();
  TsvWriter(const TsvWriter&) = delete;
  TsvWriter& operator=(const TsvWriter&) = delete;

  void begin();
  void write(const Chunk& chunk);
  /// Closes the table files and writes load.sql.
  void end();

 private:
  std::FILE* open(const std::string& name);

  std::string folder_;
  std::string base_day_;
  std::FILE* customers_ = nullptr;
  std::FILE* receivables_ = nullptr;
  std::string text_;
};

}  // namespace demo
