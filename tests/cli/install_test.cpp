// torvane-get as installed: `cmake --install` of this build into a fresh
// prefix, the program run from there with nothing on the library path, and
// the manual page and shell completion checked against the options the
// program takes.
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "cli/options.h"
#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(run({TORVANE_CMAKE, "--install", TORVANE_BUILD_DIR, "--prefix", prefix_}), 0)
        << log();
  }
  // Runs `args` through env with only PATH and the sanitizers' options set
  // (no library path, no program folder); its exit status, -1 when it
  // overran. Output goes to log().
  int run(const Args& args, const std::string& folder = "/") {
    write_file(log_, "");
    Args argv = {"/usr/bin/env", "-i", "-C", folder, "PATH=/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
      if (const char* value = std::getenv(name)) argv.push_back(std::string(name) + "=" + value);
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess process(argv, log_);
    return process.wait_exit(60s);
  }
  std::string log() const { return read_file(log_).value_or(""); }

  TempDir dir_;
  const std::string prefix_ = dir_ / "prefix", log_ = dir_ / "run.log";
};

TEST_F(InstallTest, InstalledProgramLoadsItsEngineAndDownloads) {
  // The public headers are enough to compile a client, in C and in C++.
  ASSERT_TRUE(write_file(dir_ / "client.c", "#include <torvane/torvane.h>\n"));
  ASSERT_TRUE(write_file(dir_ / "client.cpp",
                         "#include <torvane/torvane.h>\n"
                         "#include <torvane/shared_access.hpp>\n"));
  const std::string include = "-I" + prefix_ + "/include";
  EXPECT_EQ(run({TORVANE_CC, "-fsyntax-only", include, dir_ / "client.c"}), 0) << log();
  EXPECT_EQ(run({TORVANE_CXX, "-std=c++20", "-fsyntax-only", include, dir_ / "client.cpp"}), 0)
      << log();

  const std::string program = prefix_ + "/bin/torvane-get";
  ASSERT_EQ(run({program, "--version"}), 0) << log();
  EXPECT_EQ(log(), "torvane-get " TORVANE_VERSION "\n");

  const auto body = std::make_shared<const std::string>(pattern_bytes(300'000, 9));
  ScriptedServer server(serve_resource(body));
  const std::string work = dir_ / "work";
  ASSERT_TRUE(std::filesystem::create_directory(work));
  ASSERT_EQ(run({program, "-q", "-d", "4", "-o", "out", server.url("/a.bin")}, work), 0) << log();
  EXPECT_TRUE(read_file(work + "/out/a.bin") == *body);
}

// The option names in `text`: each word that starts with '-' and a letter,
// up to a character that cannot be part of a name.
std::set<std::string> option_names(const std::string& text, std::string_view line_start) {
  std::set<std::string> names;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with(line_start) || line.size() <= line_start.size() ||
        line[line_start.size()] != '-')
      continue;
    std::istringstream words(line.substr(line_start.size()));
    for (std::string word; words >> word && word.starts_with('-');) {
      if (word.ends_with(',')) word.pop_back();
      names.insert(word);
    }
  }
  return names;
}

TEST_F(InstallTest, ManualPageAndCompletionNameEveryOption) {
  const std::string page = prefix_ + "/share/man/man1/torvane-get.1";
  const Args format = path_exists("/usr/bin/man")
                          ? Args{"MANWIDTH=80", "man", "--warnings", "-l", "-P", "cat", page}
                          : Args{"groff", "-man", "-Tutf8", "-ww", "-P", "-cbou", page};
  ASSERT_EQ(run(format), 0) << log();
  const std::string formatted = log();
  EXPECT_THAT(formatted, ::testing::Not(::testing::HasSubstr("warning"))) << formatted;
  for (const char* section : {"SYNOPSIS", "OPTIONS", "EXIT STATUS", "ENVIRONMENT", "FILES",
                              "EXAMPLES", "test.tvn", "Torvane.ini", "torvane " TORVANE_VERSION})
    EXPECT_THAT(formatted, ::testing::HasSubstr(section));

  // Every option of --help is described, and every described one is taken.
  const std::set<std::string> described = option_names(formatted, "       ");
  for (const std::string& name : option_names(cli::usage_text(), "  "))
    EXPECT_TRUE(described.contains(name)) << name;
  for (const std::string& name : described) {
    const cli::ParseResult r = cli::parse_options({name, "1"});
    EXPECT_THAT(r.error, ::testing::Not(::testing::StartsWith("unknown option"))) << name;
  }

  // Completion: the same option names; folders after -o, any file after -i.
  const std::string script = prefix_ + "/share/bash-completion/completions/torvane-get";
  const std::string folder = dir_ / "names";
  ASSERT_TRUE(std::filesystem::create_directories(folder + "/sub"));
  ASSERT_TRUE(write_file(folder + "/list.txt", ""));
  const auto complete = [&](const std::string& words) {
    const std::string line = "source '" + script + "' && COMP_WORDS=(torvane-get " + words +
                             ") && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && _torvane_get && "
                             "printf '%s\\n' \"${COMPREPLY[@]}\" | sort";
    EXPECT_EQ(run({"bash", "-c", line}, folder), 0) << words;
    return log();
  };
  struct Case {
    std::string words;
    std::string offered;
  } const cases[] = {
      {"-o ''", "sub\n"},           {"--home ''", "sub\n"},
      {"-i ''", "list.txt\nsub\n"}, {"--exist rename-", "rename-new\nrename-old\n"},
      {"--version", "--version\n"}, {"-- -", "\n"},  // after "--" only URLs
  };
  for (const Case& c : cases) EXPECT_EQ(complete(c.words), c.offered) << c.words;
  std::set<std::string> offered;
  std::istringstream lines(complete("-"));
  for (std::string name; std::getline(lines, name);) offered.insert(name);
  EXPECT_EQ(offered, described);
}

}  // namespace
}  // namespace torvane::test
