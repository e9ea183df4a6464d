#include "questdb_standin/sql_statement.h"

#include <array>

#include "questdb_standin/names.h"

namespace ixc::standin {

namespace {

enum class TokenKind { Word, Quoted, Number, Punctuation, End };

struct Token {
  TokenKind kind;
  std::string text;
  int position;
};

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    auto at = static_cast<int>(i);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
    } else if (c == '\'' || c == '"') {
      std::string text;
      size_t j = i + 1;
      for (;; ++j) {
        if (j >= sql.size()) throw SqlError("unclosed quoted string", at);
        if (sql[j] != c) {
          text.push_back(sql[j]);
        } else if (j + 1 < sql.size() && sql[j + 1] == c) {
          text.push_back(c);  // a doubled quote stands for itself
          ++j;
        } else {
          break;
        }
      }
      tokens.push_back({TokenKind::Quoted, text, at});
      i = j + 1;
    } else if (is_word_byte(c)) {
      size_t j = i;
      while (j < sql.size() && is_word_byte(sql[j])) ++j;
      bool digits = sql.substr(i, j - i).find_first_not_of("0123456789") == std::string_view::npos;
      tokens.push_back(
          {digits ? TokenKind::Number : TokenKind::Word, std::string(sql.substr(i, j - i)), at});
      i = j;
    } else {
      tokens.push_back({TokenKind::Punctuation, std::string(1, c), at});
      ++i;
    }
  }
  tokens.push_back({TokenKind::End, "", static_cast<int>(sql.size())});
  return tokens;
}

struct Parser {
  std::vector<Token> tokens;
  size_t next = 0;

  const Token& peek() const { return tokens[next]; }

  bool is_keyword(std::string_view word) const {
    return peek().kind == TokenKind::Word && same_name(peek().text, word);
  }

  bool accept(std::string_view word) {
    if (!is_keyword(word)) return false;
    ++next;
    return true;
  }

  bool accept_punctuation(char c) {
    if (peek().kind != TokenKind::Punctuation || peek().text[0] != c) return false;
    ++next;
    return true;
  }

  [[noreturn]] void unexpected() const {
    if (peek().kind == TokenKind::End) throw SqlError("unexpected end of input", peek().position);
    throw SqlError("unexpected token [" + peek().text + "]", peek().position);
  }

  void expect(std::string_view word) {
    if (!accept(word)) {
      if (peek().kind == TokenKind::End) unexpected();
      throw SqlError("'" + folded_name(word) + "' expected", peek().position);
    }
  }

  void expect_punctuation(char c) {
    if (!accept_punctuation(c))
      throw SqlError(std::string("'") + c + "' expected", peek().position);
  }

  NameAt name() {
    const Token& token = peek();
    if (token.kind != TokenKind::Word && token.kind != TokenKind::Quoted) {
      if (token.kind == TokenKind::End) unexpected();
      throw SqlError("table or column name expected", token.position);
    }
    ++next;
    return {token.text, token.position};
  }

  int number() {
    const Token& token = peek();
    if (token.kind != TokenKind::Number) throw SqlError("numeric value expected", token.position);
    ++next;
    try {
      return std::stoi(token.text);
    } catch (const std::exception&) {
      throw SqlError("numeric value out of range", token.position);
    }
  }
};

// QuestDB keeps symbol and index capacities as powers of two.
int ceil_power_of_two(int value) {
  int power = 1;
  while (power < value && power < (1 << 30)) power <<= 1;
  return power;
}

ColumnAt column_definition(Parser& parser) {
  ColumnAt column;
  NameAt name = parser.name();
  column.definition.name = name.text;
  column.position = name.position;
  const Token& type_token = parser.peek();
  auto type = type_token.kind == TokenKind::Word ? type_from_name(type_token.text) : std::nullopt;
  if (!type) {
    if (type_token.kind == TokenKind::End) parser.unexpected();
    throw SqlError("unsupported column type: " + type_token.text, type_token.position);
  }
  ++parser.next;
  column.definition.type = *type;
  bool symbol = *type == ColumnType::Symbol;
  for (std::string_view word : {"CAPACITY", "CACHE", "NOCACHE", "INDEX"}) {
    if (!symbol && parser.is_keyword(word)) {
      throw SqlError("only SYMBOL columns take capacity, cache and index options",
                     parser.peek().position);
    }
  }
  if (!symbol) return column;
  if (parser.accept("CAPACITY"))
    column.definition.symbol_capacity = ceil_power_of_two(parser.number());
  if (parser.accept("NOCACHE")) {
    column.definition.symbol_cached = false;
  } else {
    parser.accept("CACHE");
  }
  if (parser.accept("INDEX")) {
    column.definition.indexed = true;
    column.definition.index_capacity = 256;
    if (parser.accept("CAPACITY"))
      column.definition.index_capacity = ceil_power_of_two(parser.number());
  }
  return column;
}

void create_table_clauses(Parser& parser, Statement& statement) {
  if (parser.accept("TIMESTAMP")) {
    parser.expect_punctuation('(');
    statement.designated = parser.name();
    parser.expect_punctuation(')');
  }
  if (parser.is_keyword("PARTITION")) {
    statement.partition_position = parser.peek().position;
    ++parser.next;
    parser.expect("BY");
    constexpr std::array<std::string_view, 6> units = {"NONE", "HOUR",  "DAY",
                                                       "WEEK", "MONTH", "YEAR"};
    bool known = false;
    for (std::string_view unit : units) {
      if (parser.accept(unit)) {
        statement.partition_by = std::string(unit);
        known = true;
        break;
      }
    }
    if (!known)
      throw SqlError("'NONE', 'HOUR', 'DAY', 'WEEK', 'MONTH' or 'YEAR' expected",
                     parser.peek().position);
  }
  if (parser.is_keyword("WAL")) {
    statement.wal_position = parser.peek().position;
    statement.wal = true;
    ++parser.next;
  } else if (parser.is_keyword("BYPASS")) {
    statement.wal_position = parser.peek().position;
    statement.bypass_wal = true;
    ++parser.next;
    parser.expect("WAL");
  }
  if (parser.is_keyword("DEDUP")) {
    statement.dedup_position = parser.peek().position;
    ++parser.next;
    parser.expect("UPSERT");
    parser.expect("KEYS");
    parser.expect_punctuation('(');
    do {
      statement.upsert_keys.push_back(parser.name());
    } while (parser.accept_punctuation(','));
    parser.expect_punctuation(')');
  }
}

void statement_body(Parser& parser, Statement& statement) {
  if (parser.accept("SHOW")) {
    statement.kind = StatementKind::ShowColumns;
    parser.expect("COLUMNS");
    parser.expect("FROM");
    statement.table = parser.name();
  } else if (parser.accept("CREATE")) {
    statement.kind = StatementKind::CreateTable;
    parser.expect("TABLE");
    if (parser.accept("IF")) {
      parser.expect("NOT");
      parser.expect("EXISTS");
      statement.if_exists = true;
    }
    statement.table = parser.name();
    parser.expect_punctuation('(');
    do {
      statement.columns.push_back(column_definition(parser));
    } while (parser.accept_punctuation(','));
    parser.expect_punctuation(')');
    create_table_clauses(parser, statement);
  } else if (parser.accept("ALTER")) {
    statement.kind = StatementKind::AddColumns;
    parser.expect("TABLE");
    statement.table = parser.name();
    parser.expect("ADD");
    parser.expect("COLUMN");
    do {
      statement.columns.push_back(column_definition(parser));
    } while (parser.accept_punctuation(','));
  } else if (parser.accept("TRUNCATE")) {
    statement.kind = StatementKind::Truncate;
    parser.expect("TABLE");
    statement.table = parser.name();
  } else if (parser.accept("DROP")) {
    statement.kind = StatementKind::Drop;
    parser.expect("TABLE");
    if (parser.accept("IF")) {
      parser.expect("EXISTS");
      statement.if_exists = true;
    }
    statement.table = parser.name();
  } else if (parser.accept("SELECT")) {
    if (parser.accept("build")) {
      statement.kind = StatementKind::Build;
      parser.expect_punctuation('(');
      parser.expect_punctuation(')');
      return;
    }
    if (parser.accept("count")) {
      statement.kind = StatementKind::Count;
      parser.expect_punctuation('(');
      parser.expect_punctuation(')');
    } else {
      statement.kind = StatementKind::SelectAll;
      parser.expect_punctuation('*');
    }
    parser.expect("FROM");
    statement.table = parser.name();
    if (statement.kind == StatementKind::SelectAll &&
        same_name(statement.table.text, "wal_tables") && parser.accept_punctuation('(')) {
      parser.expect_punctuation(')');
      statement.kind = StatementKind::WalTables;
    }
  } else if (parser.peek().kind == TokenKind::End) {
    throw SqlError("empty query", 0);
  } else {
    parser.unexpected();
  }
}

}  // namespace

Statement parse_statement(std::string_view sql) {
  Parser parser{tokenize(sql)};
  Statement statement;
  statement_body(parser, statement);
  parser.accept_punctuation(';');
  if (parser.peek().kind != TokenKind::End) parser.unexpected();
  return statement;
}

}  // namespace ixc::standin
