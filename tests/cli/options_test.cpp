// The command line of torvane-get, the URL list it builds, and the progress
// and summary texts.
#include "cli/options.h"

#include <gtest/gtest.h>

#include "cli/progress_lines.h"

namespace torvane::cli {
namespace {

ParseResult parse(std::vector<std::string_view> args) {
  return parse_options(args);
}

TEST(Options, EveryOptionTakesItsValue) {
  const ParseResult r = parse({"-o", "out", "-d", "8", "http://h/a", "-j", "2", "-e", "-v",
                               "--home", "/p", "-i", "-", "--exist", "rename-new", "--history",
                               "--shutdown", "--", "-q"});
  ASSERT_EQ(r.status, kExitOk) << r.error;
  const Options& o = r.options;
  EXPECT_EQ(o.save_folder, "out");
  EXPECT_EQ(o.divisions, "8");
  EXPECT_EQ(o.simultaneous, 2);
  EXPECT_TRUE(o.expand);
  EXPECT_TRUE(o.verbose);
  EXPECT_FALSE(o.quiet);  // after "--" it is a URL
  EXPECT_EQ(o.home, "/p");
  EXPECT_EQ(o.input_file, "-");
  EXPECT_EQ(o.exist_file, 2);
  EXPECT_TRUE(o.history);
  EXPECT_TRUE(o.shutdown);
  EXPECT_EQ(o.urls, (std::vector<std::string>{"http://h/a", "-q"}));
}

TEST(Options, BadUsageIsExitTwoWithAReason) {
  const std::vector<std::vector<std::string_view>> cases = {
      {"-d", "0", "http://h/a"},
      {"-d", "65"},
      {"-d", "8x"},
      {"-d", ""},
      {"-j", "0"},
      {"-j", "101"},
      {"-j"},
      {"--bogus"},
      {"-o", ""},
      {"-q", "-v", "http://h/a"},
      {"-x", "http://h/a"},
      {"--exist", "replace", "http://h/a"},
      {"--exist"},
  };
  for (const auto& args : cases) {
    const ParseResult r = parse(args);
    EXPECT_EQ(r.status, kExitUsage) << args[0];
    EXPECT_FALSE(r.error.empty()) << args[0];
  }
}

TEST(Options, SaveFolderEndsInOneSlash) {
  EXPECT_EQ(item_save_folder(""), "./");
  EXPECT_EQ(item_save_folder("out"), "out/");
  EXPECT_EQ(item_save_folder("/tmp/x/"), "/tmp/x/");
}

struct GatherCase {
  std::vector<std::string> args;
  bool expand;
  std::string input;  // the -i text; none when empty
  std::vector<std::string> urls;
  bool ok;
};

TEST(Options, GatheredUrls) {
  const std::vector<GatherCase> cases = {
      {{"http://h/a", "ftp://h/b", "http://h/a"}, false, "", {"http://h/a", "ftp://h/b"}, true},
      {{"https://h/a"}, false, "", {}, false},
      {{"HTTP://h/a"}, false, "", {}, false},
      {{"http://"}, false, "", {}, false},
      {{"http://h/f[1-3].bin"},
       true,
       "",
       {"http://h/f1.bin", "http://h/f2.bin", "http://h/f3.bin"},
       true},
      {{"http://h/f[1-3].bin"}, false, "", {"http://h/f[1-3].bin"}, true},
      {{"http://h/-3"}, true, "", {}, false},
      {{"http://h/img1-100.jpg"}, true, "", {}, false},
      {{},
       false,
       "junk\r\nsee ttp://h/a.bin here\r\n\nhttp://h/b.bin\t",
       {"http://h/a.bin", "http://h/b.bin"},
       true},
      {{"http://h/a.bin"}, false, "http://h/a.bin\n", {"http://h/a.bin"}, true},
      {{}, false, "no links here\n", {}, false},
  };
  for (const GatherCase& c : cases) {
    Options o;
    o.urls = c.args;
    o.expand = c.expand;
    if (!c.input.empty()) o.input_file = "list.txt";
    std::vector<std::string> urls;
    std::string error;
    const int status = gather_urls(o, c.input, urls, error);
    const std::string label = c.args.empty() ? c.input : c.args[0];
    EXPECT_EQ(status, c.ok ? kExitOk : kExitUsage) << label;
    EXPECT_EQ(error.empty(), c.ok) << label << ": " << error;
    if (c.ok) {
      EXPECT_EQ(urls, c.urls) << label;
    }
  }
}

TEST(ProgressLines, WordsAndNamesPadToDisplayColumns) {
  // The Japanese status words take two columns a character, so the file
  // names line up whatever the state.
  const RowSnapshot probing{kProbing, "a.bin", "10 / 20 (50%)", "1.0Kbyte/s", "d/", "u"};
  const RowSnapshot starting{kInitialising, "a.bin", "??? / ??? (??%)", "", "d/", "u"};
  EXPECT_EQ(progress_line(probing, 6), "DL(Head) a.bin  10 / 20 (50%)  1.0Kbyte/s");
  EXPECT_EQ(progress_line(starting, 6), "初期化   a.bin  ??? / ??? (??%)");
  const RowSnapshot long_name{kDownloading, "ファイル名.bin", "1", "", "d/", "u"};
  EXPECT_EQ(progress_line(long_name, 7), "DL(File) ファイ~ 1");
  EXPECT_EQ(running_lines({probing, {kFailed, "b", "", "", "d/", "v"}}).size(), 1u);
}

TEST(ProgressLines, RunRecordNamesFinishedAndFailedItems) {
  RunRecord record;
  record.observe({{kWaiting, "a.bin", "", "", "out/", "http://h/a.bin"},
                  {kWaiting, "b.bin", "", "", "out/", "http://h/b.bin"},
                  {kWaiting, "c.bin", "", "", "out/", "http://h/c.bin"}});
  // The engine's target name replaces the URL's once the start succeeded.
  record.observe({{kDownloading, "a(1).bin", "", "", "out/", "http://h/a.bin"},
                  {kFailed, "b.bin", "", "", "out/", "http://h/b.bin"},
                  {kResting, "c.bin", "", "", "out/", "http://h/c.bin"}});
  // a left the list (finished and removed), b stays failed, c rests.
  const auto outcomes = record.outcomes({{kFailed, "b.bin", "", "", "out/", "http://h/b.bin"},
                                         {kResting, "c.bin", "", "", "out/", "http://h/c.bin"}});
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].state, kFinished);
  EXPECT_EQ(outcomes[0].path, "out/a(1).bin");
  EXPECT_EQ(failed_count(outcomes), 1u);
  const std::string summary = summary_text(outcomes);
  EXPECT_EQ(summary.substr(0, summary.find('\n')), "1 finished, 1 failed, 1 not done");
  EXPECT_NE(summary.find("out/b.bin  (http://h/b.bin)"), std::string::npos) << summary;
}

}  // namespace
}  // namespace torvane::cli
