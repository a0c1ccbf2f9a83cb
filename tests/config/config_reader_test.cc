#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "config/config_file.h"
#include "config/error_text.h"
#include "config/lookup.h"
#include "error/exception.h"
#include "support/test_support.h"

namespace config {
namespace {

ConfigMap parse(const std::string& text) {
  ConfigMap map;
  std::istringstream in(text);
  read_config_stream(in, map);
  return map;
}

std::string parseError(const std::string& text) {
  return errorOf([&] { parse(text); });
}

TEST(ConfigFile, LinesCommentsAndFirstOccurrence) {
  ConfigMap m = parse(
      "# comment\n"
      "   \t\n"
      "  # indented comment\n"
      "a=1\r\n"
      "  b \t=  \"x y\"  \n"
      "a = 2\n"
      "c=\n"
      "d=#not a comment\n"
      "e = x\r\ry\r\n");
  ASSERT_EQ(m.size(), 5u);
  EXPECT_EQ(m["a"].value, "1");  // the first line for a name wins; CR LF reads as LF
  EXPECT_EQ(m["a"].line, 4u);
  EXPECT_EQ(m["b"].value, "\"x y\"  ");  // trailing white space stays in the value
  EXPECT_EQ(m["b"].line, 5u);
  EXPECT_EQ(m["c"].value, "");
  EXPECT_EQ(m["d"].value, "#not a comment");
  EXPECT_EQ(m["e"].value, "x\r\ry");  // only the CR of the line end goes
  EXPECT_FALSE(m["a"].from_registry);
  EXPECT_TRUE(parse("").empty());
}

TEST(ConfigFile, MalformedLinesNameTheirNumber) {
  EXPECT_EQ(parseError("a=1\nmy name = 2\n"),
            "Parse error in config file line 2: Whitespace in parameter name");
  EXPECT_EQ(parseError("\n\n\njustaword\n"),
            "Parse error in config file line 4: Whitespace in parameter name");
  EXPECT_EQ(parseError("name\n"),
            "Parse error in config file line 1: Whitespace in parameter name");
}

TEST(ConfigFile, OverlongLineIsCutAndEndsTheReading) {
  const std::string atLimit(kMaxConfigLine - 2, 'x');
  ConfigMap m = parse("a=" + atLimit + "\r\nb=1\n");
  EXPECT_EQ(m["a"].value.size(), kMaxConfigLine - 2);
  EXPECT_EQ(m.count("b"), 1u);

  // One character too many: what was read is parsed, the rest of the file is ignored, and
  // memory stays bounded however long the line runs on.
  m = parse("a=" + std::string(kMaxConfigLine - 2, 'y') + "TAIL" + std::string(100000, 'z') +
            "\nb=1\n");
  EXPECT_TRUE(m["a"].value == std::string(kMaxConfigLine - 2, 'y')) << m["a"].value.size();
  EXPECT_EQ(m.count("b"), 0u);
}

TEST(ConfigFile, BinaryInputIsText) {
  ConfigMap m = parse(std::string("a=\"x\0y\"\n\xff\xfe=\x01\n", 13));
  EXPECT_EQ(m["a"].value, std::string("\"x\0y\"", 5));
  EXPECT_EQ(get_string(m, "a"), std::string("x\0y", 3));
}

TEST(ConfigFile, OpenFailureNamesTheFile) {
  vxtest::TempDir dir;
  ConfigMap m;
  EXPECT_EQ(errorOf([&] { read_config_file(dir.file("nope.conf"), m); }),
            "Cannot open configuration file \"" + dir.file("nope.conf") +
                "\": No such file or directory");
  EXPECT_EQ(errorOf([&] { read_config_file(dir.path(), m); }),
            "Cannot open configuration file \"" + dir.path() + "\": Is a directory");
  vxtest::writeFile(dir.file("ok.conf"), "x = \"1\"\n");
  read_config_file(dir.file("ok.conf"), m);
  EXPECT_EQ(get_string(m, "x"), "1");

  // Only a regular file (or a link to one) is read; a FIFO nobody writes to is refused at
  // once instead of holding the caller.
  ASSERT_EQ(::mkfifo(dir.file("fifo.conf").c_str(), 0600), 0);
  EXPECT_EQ(errorOf([&] { read_config_file(dir.file("fifo.conf"), m); }),
            "Cannot open configuration file \"" + dir.file("fifo.conf") + "\": not a regular file");
  EXPECT_EQ(errorOf([&] { read_config_file("/dev/null", m); }),
            "Cannot open configuration file \"/dev/null\": not a regular file");
  ASSERT_EQ(::symlink(dir.file("ok.conf").c_str(), dir.file("link.conf").c_str()), 0);
  ConfigMap linked;
  read_config_file(dir.file("link.conf"), linked);
  EXPECT_EQ(get_string(linked, "x"), "1");
}

struct StringCase {
  std::string value;
  std::string result;  // or the error text
};

TEST(Lookup, QuotedStrings) {
  const StringCase cases[] = {
      {R"("word")", "word"},
      {R"("word"   # remark)", "word"},
      {R"("a \"quoted\" word")", R"(a \"quoted\" word)"},
      {R"("ends in backslash\\")", R"(ends in backslash\\)"},
      {R"("")", ""},
      {"\"x\"\t\n", "x"},
      {"", "Expected non-empty value in line 7 while looking for k"},
      {"word", "Expected string value in line 7"},
      {R"("open)", "End \" delimiter not found in line 7"},
      {R"("escaped end\")", "End \" delimiter not found in line 7"},
      {R"("a" b)",
       "Unexpected characters after string in line 7. The offending character is \"b\""},
      {R"("a""b")",
       "Unexpected characters after string in line 7. The offending character is \"\"\""},
  };
  for (const auto& c : cases) {
    ConfigMap m{{"k", {c.value, 7, false}}};
    std::string got;
    try {
      got = get_string(m, "k");
    } catch (const error::EParseError& e) {
      got = e.what();
    }
    EXPECT_EQ(got, c.result) << c.value;
  }
}

TEST(Lookup, StringVariants) {
  ConfigMap m{{"file", {R"("say \"hi\"\n\q\\")", 3, false}},
              {"reg", {R"(C:\dir\"x\")", 5, true}},
              {"set", {R"(" b,a,,a , c")", 1, false}}};
  EXPECT_EQ(get_string(m, "file"), R"(say \"hi\"\n\q\\)");
  EXPECT_EQ(get_string_opt_unescaped(m, "file", "d"), "say \"hi\"\nq\\");
  // Registry values are used as they are, but their escapes still resolve on request.
  EXPECT_EQ(get_string(m, "reg"), R"(C:\dir\"x\")");
  EXPECT_EQ(get_string_opt_unescaped(m, "reg", "d"), "C:dir\"x\"");
  EXPECT_EQ(get_string_opt(m, "missing", "\\n"), "\\n");
  EXPECT_EQ(get_string_opt_unescaped(m, "missing", "\\n"), "\\n");  // defaults are not unescaped
  EXPECT_EQ(get_string_set(m, "set", "x"), (std::set<std::string>{" b", "a", "a ", " c"}));
  EXPECT_EQ(get_string_set(m, "missing", "p,q,p"), (std::set<std::string>{"p", "q"}));
  EXPECT_EQ(errorOf([&] { get_string(m, "missing"); }), "Missing option in configuration: missing");
}

TEST(Lookup, UnescapeAndSplit) {
  EXPECT_EQ(unescape(R"(a\tb\rc\nd\"e\\f\zg)"), "a\tb\rc\nd\"e\\fzg");
  EXPECT_EQ(unescape("trailing\\"), "trailing");
  EXPECT_EQ(unescape(""), "");
  EXPECT_TRUE(split(",,,").empty());
  EXPECT_EQ(split("one"), (std::set<std::string>{"one"}));
}

TEST(Lookup, Integers) {
  ConfigMap m{{"n", {"12", 4, false}},
              {"remark", {"12 # twelve", 5, false}},
              {"empty", {"", 6, false}},
              {"word", {"twelve", 7, false}},
              {"big", {"99999999999", 8, false}},
              {"reg", {"3", 0xffffffffu, true}},
              {"neg", {"-5", 9, false}}};
  EXPECT_EQ(get_integer(m, "n", 12, 12), 12);
  EXPECT_EQ(get_integer_opt(m, "missing", 1, 3, 2), 2);
  EXPECT_EQ(get_integer(m, "neg", -10, 0), -5);
  EXPECT_EQ(errorOf([&] { get_integer(m, "remark", 0, 100); }),
            "Trailing data after int: \"12 # twelve\"");
  EXPECT_EQ(errorOf([&] { get_integer(m, "empty", 0, 100); }),
            "Expected an integer in line 6 while looking for empty");
  EXPECT_EQ(errorOf([&] { get_integer(m, "word", 0, 100); }), "Cannot parse int: \"twelve\"");
  EXPECT_EQ(errorOf([&] { get_integer(m, "big", 0, 100); }), "Cannot parse int: \"99999999999\"");
  EXPECT_EQ(errorOf([&] { get_integer(m, "n", 13, 100); }),
            "Integer value too low in line 4, minimum is 13 while looking for n");
  EXPECT_EQ(errorOf([&] { get_integer_opt(m, "n", 0, 11, 5); }),
            "Integer value too high in line 4, maximum is 11 while looking for n");
  // The first registry value shows as line -1.
  EXPECT_EQ(errorOf([&] { get_integer(m, "reg", 4, 5); }),
            "Integer value too low in line -1, minimum is 4 while looking for reg");
  EXPECT_EQ(errorOf([&] { get_integer(m, "missing", 0, 1); }),
            "Missing option in configuration: missing");
}

TEST(Lookup, IntegerFromList) {
  ConfigMap m{{"ok", {"300", 1, false}}, {"bad", {"301", 2, false}}};
  EXPECT_EQ(get_integer_in(m, "ok", {200, 300}, 200), 300);
  EXPECT_EQ(get_integer_in(m, "missing", {200, 300}, 7), 7);  // a default outside is fine
  EXPECT_EQ(errorOf([&] {
              get_integer_in(m, "bad", {200, 300, 600}, 200);
            }),
            "Integer value invalid in line 2, expected one of 200, 300, 600");
}

TEST(Lookup, Booleans) {
  ConfigMap m{{"a", {"true", 1, false}},
              {"b", {"True", 1, false}},
              {"c", {"FALSE", 1, false}},
              {"d", {"true ", 2, false}},
              {"e", {"yes", 3, false}}};
  EXPECT_TRUE(get_bool(m, "a"));
  EXPECT_TRUE(get_bool(m, "b"));
  EXPECT_FALSE(get_bool(m, "c"));
  EXPECT_TRUE(get_bool_opt(m, "missing", true));
  EXPECT_EQ(errorOf([&] { get_bool(m, "d"); }),
            "Expected either \"true\" or \"false\" value in line 2 (TRUE ) while looking for d");
  EXPECT_EQ(errorOf([&] { get_bool_opt(m, "e", false); }),
            "Expected either \"true\" or \"false\" value in line 3 (YES) while looking for e");
  EXPECT_EQ(errorOf([&] { get_bool(m, "missing"); }), "Missing option in configuration: missing");
}

TEST(LookupDeathTest, BadRangesAreProgrammingErrors) {
  ConfigMap m;
  EXPECT_DEATH(get_integer(m, "k", 5, 4), "Assertion failed: get_integer expects low <= high");
  EXPECT_DEATH(get_integer_opt(m, "k", 1, 4, 5),
               "Assertion failed: get_integer_opt expects low <= def <= high");
}

}  // namespace
}  // namespace config
