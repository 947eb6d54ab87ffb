#include "platform/headless_host.h"

#include <cstddef>
#include <cstdio>

namespace {
constexpr std::size_t kMaxRecorded = 1000;
}

HeadlessHost::HeadlessHost(bool echo_to_stderr) : echo_(echo_to_stderr) {}

HeadlessHost::~HeadlessHost() = default;

int HeadlessHost::message_box(const char* text, const char* caption, unsigned flags) {
  int answer;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    answer = host_default_answer(flags);
  }
  // A long scripted run keeps only the newest boxes.
  if (boxes_.size() >= kMaxRecorded) boxes_.erase(boxes_.begin());
  boxes_.push_back(Box{text ? text : "", caption ? caption : "", flags, answer});
  if (echo_) {
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
  }
  return answer;
}

void HeadlessHost::post_quit(int code) {
  quit_posted_ = true;
  quit_code_ = code;
}

void HeadlessHost::script_answer(int answer) { answers_.push_back(answer); }

void HeadlessHost::clear() {
  answers_.clear();
  boxes_.clear();
  quit_posted_ = false;
  quit_code_ = 0;
}
