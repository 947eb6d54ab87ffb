// Qt's messages as the program lets them through: the web engine's start-up report reaches
// the trace log and not the terminal, while any other warning and every critical message
// still shows there.
#include <QLoggingCategory>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "client/core/log.h"
#include "client/ui/qt_messages.h"

namespace {

Q_LOGGING_CATEGORY(engine_context, "qt.webenginecontext")

std::string read_all(const std::filesystem::path& p) {
  std::ifstream f(p);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(QtMessages, StartUpReportGoesToTheLogAndRealProblemsToTheTerminal) {
  char dir_template[] = "/tmp/tessel_qtmsg_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::filesystem::path dir(dir_template);
  const std::filesystem::path before_dir = std::filesystem::current_path();
  std::filesystem::current_path(dir);  // the log is written in the working directory
  log_reset();
  trace_switches[TRACE_GENERAL] = 1;

  // The program's standard error stream into a file while the messages are given (the
  // stream, not the descriptor: with the web engine's lines kept apart they differ).
  const std::string err_path = (dir / "stderr.txt").string();
  std::fflush(stderr);
  FILE* const saved = stderr;
  FILE* const to = std::fopen(err_path.c_str(), "w");
  ASSERT_NE(nullptr, to);
  stderr = to;
  QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=true"));
  QtMessageHandler previous = qInstallMessageHandler(nullptr);
  qt_messages_install();
  qCInfo(engine_context, "\n\nGL Type: disabled\nSurface Type: DefaultRenderableType\n");
  qWarning("Sandboxing disabled by user.");
  qWarning("No suitable graphics backend found");
  qWarning("This plugin does not support setParent!");
  qWarning("QFont: cannot read the font file");
  qCritical("the display went away");
  qInstallMessageHandler(previous);
  QLoggingCategory::setFilterRules(QString());
  stderr = saved;
  std::fclose(to);
  log_reset();

  const std::string terminal = read_all(err_path);
  const std::string log = read_all(dir / "tessel.log");
  std::filesystem::current_path(before_dir);
  std::filesystem::remove_all(dir);

  EXPECT_NE(terminal.find("QFont: cannot read the font file"), std::string::npos) << terminal;
  EXPECT_NE(terminal.find("the display went away"), std::string::npos) << terminal;
  for (const char* quiet : {"GL Type", "Surface Type", "Sandboxing", "graphics backend", "setParent"})
    EXPECT_EQ(terminal.find(quiet), std::string::npos) << quiet << " on the terminal:\n" << terminal;
  for (const char* logged : {"qt (qt.webenginecontext): GL Type: disabled",
                             "qt (qt.webenginecontext): Surface Type: DefaultRenderableType",
                             "qt (default): No suitable graphics backend found",
                             "qt (default): the display went away"})
    EXPECT_NE(log.find(logged), std::string::npos) << logged << " not in the log:\n" << log;
}

}  // namespace
