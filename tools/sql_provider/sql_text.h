// An SQL text of the configuration file, with its parameters found.
//
// A statement names what it binds with $-parameters: $1 to $10 are the
// message's items, $ref, $call, $held_call, $network_call and $node its
// header fields, $received the time the message was taken (UTC, as
// "YYYY-MM-DD HH:MM:SS.mmmZ"). Every parameter is bound, never written
// into the text: the text each database gets has its own placeholders
// (?N for SQLite, $N for PostgreSQL), numbered in the order the parameters
// first appear. Quoted strings, quoted names, comments and PostgreSQL's
// dollar-quoted strings are left alone.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sqlprovider {

enum class Parameter {
  item1 = 1,  // item1 .. item10 are 1 .. 10
  item10 = 10,
  ref,
  call,
  heldCall,
  networkCall,
  node,
  received,
};

enum class Dialect { sqlite, postgresql };

// Where a piece of the text came from: its first byte and its line in the
// configuration file. A text continued on indented lines has one piece per
// line, joined by newlines.
struct TextPiece {
  size_t offset;
  int line;
};

class SqlText {
 public:
  // Scans text; problems() lists what is wrong with it.
  SqlText(std::string text, std::vector<TextPiece> pieces);

  struct Problem {
    int line;
    std::string message;
  };
  const std::vector<Problem>& problems() const { return problems_; }

  const std::string& text() const { return text_; }
  int firstLine() const { return pieces_.empty() ? 0 : pieces_.front().line; }
  // The line of the file that holds byte `offset` of the text.
  int lineAt(size_t offset) const;

  // The parameters in binding order: the first is placeholder 1.
  const std::vector<Parameter>& parameters() const { return parameters_; }
  // The first placeholder of SQLite's other forms (?, ?N, :name, @name),
  // which nothing would bind; empty when there is none.
  const std::string& otherPlaceholder() const { return otherPlaceholder_; }
  int otherPlaceholderLine() const { return otherPlaceholderLine_; }

  // The text for a database, and for each of its bytes the byte of text()
  // it came from (so that a database's error position leads to a line).
  struct Rendered {
    std::string text;
    std::vector<size_t> origin;
  };
  Rendered render(Dialect dialect) const;

 private:
  struct Segment {
    size_t begin, end;  // a stretch of text() copied as it is
    int placeholder;    // then this placeholder (0: none)
  };
  void scan();

  std::string text_;
  std::vector<TextPiece> pieces_;
  std::vector<Problem> problems_;
  std::vector<Parameter> parameters_;
  std::vector<Segment> segments_;
  std::string otherPlaceholder_;
  int otherPlaceholderLine_ = 0;
};

// The parameter's name as written in a statement ("$3", "$ref").
std::string parameterName(Parameter parameter);

}  // namespace sqlprovider
