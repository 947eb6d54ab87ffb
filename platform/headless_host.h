#pragma once
// A Host without windows: boxes are answered from a script and recorded for inspection.
#include <deque>
#include <string>
#include <vector>

#include "platform/host.h"

class HeadlessHost : public Host {
 public:
  struct Box {
    std::string text;
    std::string caption;
    unsigned flags;
    int answer;
  };

  explicit HeadlessHost(bool echo_to_stderr = false);
  ~HeadlessHost() override;

  int message_box(const char* text, const char* caption, unsigned flags) override;
  void post_quit(int code) override;

  // Answers for the coming boxes, in order; when empty, the default button answers.
  void script_answer(int answer);
  void clear();

  const std::vector<Box>& boxes() const { return boxes_; }
  bool quit_posted() const { return quit_posted_; }
  int quit_code() const { return quit_code_; }

 private:
  bool echo_;
  std::deque<int> answers_;
  std::vector<Box> boxes_;
  bool quit_posted_ = false;
  int quit_code_ = 0;
};
