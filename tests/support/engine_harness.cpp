#include "tests/support/engine_harness.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace torvane::test {

EngineHarness::EngineHarness(int max_items) {
  ctx_.max_items = max_items;
  ctx_.wait_ms = 20;
  ctx_.callback = &EngineHarness::on_notice;
  init_result_ = torvane_init(&ctx_, 0);
}

void EngineHarness::answer(int code, Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[code] = std::move(answer);
}

char* EngineHarness::keep(const std::string& text, std::size_t capacity) {
  auto buffer = std::make_unique<char[]>(std::max(capacity, text.size() + 1));  // zeroed
  std::memcpy(buffer.get(), text.data(), text.size());
  std::lock_guard<std::mutex> lock(mutex_);
  return strings_.emplace_back(std::move(buffer)).get();
}

int EngineHarness::fill(const ItemSetup& wanted) {
  const int slot = dl_set(&ctx_);
  if (slot < 0) return -1;
  // A slot in state 1 is the client's to fill; no engine thread reads it.
  ItemData& it = item(slot);
  it.run_flags = 0;
  it.data_type = TVN_DATA_HTTP;
  it.referer = it.user_agent = it.reserved_text = it.extra_header = nullptr;
  it.auto_referer = 0;
  it.url = keep(wanted.url, TVN_URL_CAPACITY);  // a redirect rewrites it in place
  it.save_path = keep(wanted.save_path, TVN_PATH_CAPACITY);
  it.options = wanted.options;
  it.retry = 3;
  it.div_count = wanted.div_count;
  it.proxy = wanted.proxy ? keep(*wanted.proxy, 0) : nullptr;
  it.buffer_size = wanted.buffer_size != 0 ? wanted.buffer_size : 40000 * wanted.div_count;
  return slot;
}

int EngineHarness::start(const ItemSetup& wanted, int* start_result) {
  const int slot = fill(wanted);
  const int result = slot < 0 ? -1 : dl_start(&ctx_, slot);
  if (start_result != nullptr) *start_result = result;
  return slot;
}

std::vector<int> EngineHarness::start_together(const std::vector<ItemSetup>& items) {
  std::vector<int> slots;
  for (const ItemSetup& wanted : items) slots.push_back(fill(wanted));
  for (const int slot : slots) {
    if (slot >= 0) dl_start(&ctx_, slot);
  }
  return slots;
}

int EngineHarness::count(int code, int slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(notices_.begin(), notices_.end(), [&](const Notice& n) {
    return n.code == code && (slot < 0 || n.slot == slot);
  }));
}

std::vector<std::string> EngineHarness::texts(int code, int slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> found;
  for (const Notice& n : notices_)
    if (n.code == code && (slot < 0 || n.slot == slot)) found.push_back(n.text);
  return found;
}

bool EngineHarness::wait_until(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool EngineHarness::wait_division_done(int slot, int div, std::chrono::milliseconds timeout) {
  return wait_until(
      [&] {
        if (state(slot) != TVN_STATE_DOWNLOADING) return false;  // the arrays come with it
        const std::int32_t* status = load_acquire(item(slot).div_status);
        return status != nullptr && load_acquire(status[div]) == TVN_DIV_DONE;
      },
      timeout);
}

bool EngineHarness::stop_all(std::chrono::milliseconds timeout) {
  if (init_result_ != 1 || load_acquire(ctx_.items) == nullptr) return true;
  return wait_until(
      [&] {
        bool busy = false;
        for (int slot = 0; slot < slot_count(); ++slot) {
          const int s = state(slot);
          if (s < TVN_STATE_STARTED || s > TVN_STATE_DOWNLOADING) continue;
          busy = true;
          dl_stop(&item(slot), -1);  // a refusal is asked again on the next round
        }
        return !busy;
      },
      timeout);
}

int EngineHarness::end() {
  if (!end_result_) end_result_ = init_result_ != 1 ? 0 : (stop_all(), torvane_end(&ctx_));
  return *end_result_;
}

int EngineHarness::on_notice(EngineContext* ctx, int code, int slot, int div, void* data) {
  EngineHarness* h = reinterpret_cast<Box*>(ctx)->owner;  // the context is Box's first member
  const bool text =
      data != nullptr && ((code >= TVN_NOTICE_HEAD_SENT && code <= TVN_NOTICE_GET_HEADER) ||
                          code == TVN_NOTICE_MESSAGE);
  Answer answer;
  {
    std::lock_guard<std::mutex> lock(h->mutex_);
    h->notices_.push_back({code, slot, text ? static_cast<const char*>(data) : ""});
    const auto found = h->answers_.find(code);
    if (found != h->answers_.end()) answer = found->second;
  }
  return answer ? answer(ctx, slot, div, data) : 0;
}

}  // namespace torvane::test
