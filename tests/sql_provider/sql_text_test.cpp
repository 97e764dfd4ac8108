// The parameters of a statement's text: found where SQL would see them, and
// nowhere else, and written as each database's placeholders.
#include "sql_text.h"

#include <gtest/gtest.h>

namespace sqlprovider {
namespace {

struct Scanned {
  const char* what;
  std::string text;
  std::vector<Parameter> parameters;
  std::string sqlite;
  std::string postgresql;
};

TEST(SqlText, FindsParametersOutsideQuotesAndComments) {
  const Parameter one = static_cast<Parameter>(1), two = static_cast<Parameter>(2), three = static_cast<Parameter>(3);
  const std::vector<Scanned> cases = {
      {"items and fields, in order of first use", "SELECT a FROM t WHERE b = $3 AND c = $ref AND d = $3",
       {three, Parameter::ref}, "SELECT a FROM t WHERE b = ?1 AND c = ?2 AND d = ?1",
       "SELECT a FROM t WHERE b = $1 AND c = $2 AND d = $1"},
      {"quoted texts and names, comments", "SELECT '$1', \"$2\", 'it''s $3', $ref -- $4\n/* $5 */ FROM t",
       {Parameter::ref}, "SELECT '$1', \"$2\", 'it''s $3', ?1 -- $4\n/* $5 */ FROM t",
       "SELECT '$1', \"$2\", 'it''s $3', $1 -- $4\n/* $5 */ FROM t"},
      {"dollar-quoted strings", "SELECT $$ $1 $$, $q$ $2 $q$, $received", {Parameter::received},
       "SELECT $$ $1 $$, $q$ $2 $q$, ?1", "SELECT $$ $1 $$, $q$ $2 $q$, $1"},
      {"an escape string", "SELECT E'it\\'s $1', $2", {two}, "SELECT E'it\\'s $1', ?1", "SELECT E'it\\'s $1', $1"},
      {"a $ inside a name", "SELECT a$1, $held_call FROM t", {Parameter::heldCall}, "SELECT a$1, ?1 FROM t",
       "SELECT a$1, $1 FROM t"},
      {"ten and one", "SELECT $10, $1", {static_cast<Parameter>(10), one}, "SELECT ?1, ?2", "SELECT $1, $2"},
  };
  for (const Scanned& scanned : cases) {
    const SqlText text(scanned.text, {{0, 7}});
    EXPECT_TRUE(text.problems().empty()) << scanned.what;
    EXPECT_EQ(text.parameters(), scanned.parameters) << scanned.what;
    EXPECT_EQ(text.render(Dialect::sqlite).text, scanned.sqlite) << scanned.what;
    EXPECT_EQ(text.render(Dialect::postgresql).text, scanned.postgresql) << scanned.what;
    EXPECT_EQ(text.otherPlaceholder(), "") << scanned.what;
  }
}

TEST(SqlText, NamesTheLineOfEachFault) {
  // Three lines of the file: 7, 8 and 9.
  const std::string source = "SELECT $2\nFROM t WHERE a = $11\nAND b = $caller AND c = :c AND d::int = 1";
  const SqlText text(source, {{0, 7}, {10, 8}, {31, 9}});
  ASSERT_EQ(text.problems().size(), 2u);
  EXPECT_EQ(text.problems()[0].line, 8);
  EXPECT_EQ(text.problems()[0].message, "parameter $11 is past ten: the items are $1 to $10");
  EXPECT_EQ(text.problems()[1].line, 9);
  EXPECT_EQ(text.problems()[1].message.rfind("unknown parameter $caller (", 0), 0u);
  EXPECT_EQ(text.otherPlaceholder(), ":c");
  EXPECT_EQ(text.otherPlaceholderLine(), 9);
  // A byte of the text a database renders leads back to its line.
  const SqlText::Rendered rendered = text.render(Dialect::postgresql);
  EXPECT_EQ(text.lineAt(rendered.origin[rendered.text.find("FROM")]), 8);
}

}  // namespace
}  // namespace sqlprovider
