// tvn-fetch: downloads one URL with the engine over its C interface, the way
// the program drives it (wait_ms 20, buffer of 40000 bytes per division).
// Used by the benchmark and for trying the engine by hand.
//
//   tvn-fetch URL OUTPUT_FILE [DIVISIONS] [SPEEDMODE 0|1]
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "torvane/torvane.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_done;
int g_final = 0;

int on_notice(EngineContext*, int code, int, int, void* data) {
  if (code == TVN_NOTICE_MESSAGE && data != nullptr)
    std::fprintf(stderr, "engine: %s\n", static_cast<char*>(data));
  if (code == TVN_NOTICE_FINISHED || code == TVN_NOTICE_FAILED || code == TVN_NOTICE_STOPPED) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_final = code;
  }
  if (code == TVN_NOTICE_SLOT_FREE) g_done.notify_all();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tvn-fetch URL OUTPUT_FILE [DIVISIONS] [SPEEDMODE]\n");
    return 2;
  }
  const int divisions = argc > 3 ? std::atoi(argv[3]) : 1;
  const bool speed_mode = argc > 4 && std::atoi(argv[4]) != 0;
  EngineContext ctx{};
  ctx.max_items = 1;
  ctx.callback = on_notice;
  ctx.wait_ms = 20;
  if (torvane_init(&ctx, 0) != 1) return 1;
  std::string url(TVN_URL_CAPACITY, '\0');
  std::strncpy(url.data(), argv[1], TVN_URL_CAPACITY - 1);
  std::string save = argv[2];
  const auto start = std::chrono::steady_clock::now();
  const int slot = dl_set(&ctx);
  ItemData& item = ctx.items[slot];
  item.data_type = TVN_DATA_HTTP;
  item.url = url.data();
  item.save_path = save.data();
  item.div_count = divisions;
  item.retry = 5;
  item.buffer_size = divisions * 40000;
  item.options =
      TVN_OPT_AUTO_RESUME | (speed_mode ? static_cast<uint32_t>(TVN_OPT_SPEED_MODE) : 0u);
  std::remove(save.c_str());
  if (dl_start(&ctx, slot) != 0) {
    torvane_end(&ctx);
    return 1;
  }
  {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_done.wait(lock, [] { return g_final != 0; });
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  torvane_end(&ctx);
  std::fprintf(stderr, "%s in %.3f s\n", g_final == TVN_NOTICE_FINISHED ? "finished" : "failed",
               seconds);
  return g_final == TVN_NOTICE_FINISHED ? 0 : 1;
}
