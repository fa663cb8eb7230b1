// The command line of torvane-get, the URL list it builds, and the progress
// and summary texts.
#include "cli/options.h"

#include <gmock/gmock.h>

#include <ranges>
#include <tuple>

#include "cli/progress_lines.h"

namespace torvane::cli {
namespace {

// The values the end-to-end runs do not reach, at the largest counts allowed.
TEST(Options, EveryOptionTakesItsValue) {
  const ParseResult r = parse_options({"-d", "64", "http://h/a", "--jobs", "100", "-v", "--home",
                                       "/p", "-i", "-", "--exist", "rename-new", "--retry", "0",
                                       "--stall-timeout", "86400", "-k", "--", "-q"});
  ASSERT_EQ(r.status, kExitOk) << r.error;
  const Options& o = r.options;
  // After "--" an argument is a URL, so -q is not set.
  EXPECT_EQ(std::tie(o.divisions, o.simultaneous, o.verbose, o.quiet, o.home, o.input_file,
                     o.exist_file, o.retry, o.stall_timeout, o.insecure),
            std::make_tuple("64", 100, true, false, "/p", "-", 2, 0, 86400, true));
  EXPECT_EQ(o.urls, (std::vector<std::string>{"http://h/a", "-q"}));
  EXPECT_EQ(item_save_folder(""), "./");
}

// The command line as the program takes it: parsed, then the URLs gathered
// from it and the -i text.
TEST(Options, CommandLineGivesTheUrlsOrExitTwoWithAReason) {
  struct Case {
    std::string_view line;                       // split at blanks: "-o " gives -o ""
    std::vector<std::string> urls = {};          // none: refused
    std::string_view input = "no links here\n";  // the -i text
  };
  std::vector<Case> cases = {
      // Repeats dropped; brackets are kept as they are without -e.
      {"http://h/a[1-2] ftp://h/b http://h/a[1-2]", {"http://h/a[1-2]", "ftp://h/b"}},
      {"-e http://h/f[1-3].bin", {"http://h/f1.bin", "http://h/f2.bin", "http://h/f3.bin"}},
      {"-i list", {"https://h/a"}, "get ttps://h/a\n"},
      // CRLF lines, a URL amid words, one already on the command line.
      {"-i list http://h/b.bin",
       {"http://h/b.bin", "http://h/a.bin"},
       "junk\r\nsee ttp://h/a.bin here\r\n\nhttp://h/b.bin\t"}};
  const std::string too_long = "http://h/" + std::string(2040, 'a');
  for (const std::string_view refused :
       {"-d 0", "-d 65", "-d 8x", "-j 101", "-j", "--bogus", "-o ", "-q -v", "--exist replace",
        "HTTPS://h/a", "http://", "-e http://h/img1-100.jpg", "-i list", too_long.c_str(),
        // -O names one file, in the folder; header lines need a name and a colon.
        "-O a/b http://h/a", "-O .. http://h/a", "-O x http://h/a http://h/b", "-O x",
        "-H nocolon http://h/a", "-U a\x01b http://h/a", "-H range:0- http://h/a",
        "--retry 1001 http://h/a", "--stall-timeout 86401 http://h/a", "--list http://h/a",
        "--forget http://h/a", "--list --forget"})
    cases.push_back({refused});
  for (const Case& c : cases) {
    std::vector<std::string_view> args;
    for (const auto word : std::views::split(c.line, ' '))
      args.emplace_back(word.begin(), word.end());
    const ParseResult r = parse_options(args);
    std::vector<std::string> urls;
    std::string error = r.error;
    const int code = r.status != kExitOk ? r.status : gather_urls(r.options, c.input, urls, error);
    EXPECT_EQ(code, c.urls.empty() ? kExitUsage : kExitOk) << c.line << ": " << error;
    EXPECT_EQ(error.empty(), code == kExitOk) << c.line;           // a reason with every refusal
    EXPECT_EQ(code == kExitOk ? urls : c.urls, c.urls) << c.line;  // the URLs, when taken
  }
}

TEST(ProgressLines, SizesTimesAndLinesThatFitTheTerminal) {
  using Texts = std::vector<std::string>;
  EXPECT_EQ((Texts{size_text(0), size_text(1023), size_text(1024), size_text(1048575),
                   size_text(5ull << 30), size_text(3ull << 40)}),
            (Texts{"0 B", "1023 B", "1.0 KiB", "1024.0 KiB", "5.00 GiB", "3.00 TiB"}));
  EXPECT_EQ((Texts{duration_text(7), duration_text(3723), duration_text(std::nullopt)}),
            (Texts{"0:07", "1:02:03", "--:--"}));
  // ETA: rounded up, none without a size or a rate, 0 when done.
  EXPECT_EQ((std::vector{eta_seconds(0, 1000, 300), eta_seconds(0, 0, 300),
                         eta_seconds(10, 1000, 0), eta_seconds(1000, 1000, 0)}),
            (std::vector<std::optional<std::uint64_t>>{4, std::nullopt, std::nullopt, 0}));

  // The Japanese status words take two columns a character, so the file
  // names line up whatever the state; the name gives way to the figures.
  RowSnapshot row{kDownloading, "ファイル名.bin", "", "", "d/", "u"};
  row.done_bytes = 1 << 20;
  row.size_bytes = 4 << 20;
  row.bytes_per_second = 1 << 20;
  row.start_tick = 1000;
  EXPECT_EQ(progress_line(row, 8000, 80),
            "DL(File) ファイル名.bin  1.00 MiB / 4.00 MiB 25%  1.00 MiB/s  ETA 0:03  0:07");
  // Narrower: the name gives way to its last 8 columns, then the last figures.
  EXPECT_EQ(progress_line(row, 8000, 70),
            "DL(File) ファイ~  1.00 MiB / 4.00 MiB 25%  1.00 MiB/s  ETA 0:03  0:07");
  EXPECT_EQ(progress_line(row, 8000, 58), "DL(File) ファイ~  1.00 MiB / 4.00 MiB 25%  1.00 MiB/s");
  EXPECT_EQ(progress_line(row, 8000, 30), "DL(File) ファイ~  1.00 MiB / 4");
  // Without a size: the bytes, the speed and the time alone.
  row.size_bytes = 0;
  EXPECT_EQ(progress_line(row, 8000, 80), "DL(File) ファイル名.bin  1.00 MiB  1.00 MiB/s  0:07");
  EXPECT_EQ(running_lines({row, {kFailed, "b", "", "", "d/", "v"}}, 0).size(), 1u);

  const std::vector<RowSnapshot> rows = {row, {kWaiting, "w", "", "", "d/", "w"}};
  EXPECT_EQ(totals_line(rows, {.done = 3, .running = 1, .waiting = 1, .failed = 1}, 65000),
            "1 running, 1 waiting, 3 done, 1 failed  1.00 MiB  1.00 MiB/s  1:05");
}

TEST(ProgressLines, RunSummaryNamesFinishedAndFailedItems) {
  const auto row = [](int state, const std::string& name, const std::string& file = {}) {
    return RowSnapshot{state, file.empty() ? name : file, "", "", "out/", "http://u:pw@h/" + name};
  };
  RunRecord record;
  record.observe({row(kWaiting, "a.bin")});
  // The engine's target name replaces the URL's once the start succeeded.
  record.observe(
      {row(kDownloading, "a.bin", "a(1).bin"), row(kFailed, "b.bin"), row(kResting, "c.bin")});
  // a left the list (finished and removed), b stays failed, c rests.
  const auto outcomes = record.outcomes({row(kFailed, "b.bin"), row(kResting, "c.bin")});
  EXPECT_EQ(summary_text(outcomes),
            "1 finished, 1 failed, 1 not done\n  完了     out/a(1).bin\n"
            "  ERR!     out/b.bin  (http://u:********@h/b.bin)\n  休憩     out/c.bin\n");
}

}  // namespace
}  // namespace torvane::cli
