#include "support/Qv_err.h"

#include <gtest/gtest.h>
#include <error.h>  // glibc's error(3) must coexist with ours
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui/popups.h"
#include "platform/win/clock.h"
#include "tests/support/shutdown_hook.h"
#include "tests/support/error_globals.h"
#include "tests/testsupport/testsupport.h"

namespace headless = platform::ui::headless;

namespace {

const char *const kErrorTexts =
    "; test error texts\n"
    "\n"
    " TEST_BLANK W \"a line starting with a blank\"\n"
    ";TEST_SEMI W \"a comment\"\n"
    "TEST_WARN W \"warn %d %s\"\n"
    "TEST_ERR  \t E \"err %s\" trailing words\n"
    "TEST_FATAL F \"boom %d\"\n"
    "TEST_DUP W \"first\"\n"
    "TEST_DUP E \"second\"\n"
    "TEST_TAB\tW \"after a tab\"\n"
    "TEST_TAB W \"after a blank\"\n"
    "TEST_LONGER W \"longer key\"\n"
    "TEST_NOQUOTE W no quotes at all\n"
    "TEST_OPEN W \"no closing quote\n"
    "TEST_BADSEV X \"unknown letter\"\n"
    "TEST_ZERO 0 \"zero letter\"\n"
    "TEST_EMPTY\n"
    "TEST_PERCENT W \"100%% done\"\n"
    "TEST_CUT W \"%s\"\n"
    "TEST_CRLF E \"windows line\"\r\n";

constexpr std::time_t kFixedTime = 1700000000;

std::string ctime_of(std::time_t t) {
  char buf[64];
  return ctime_r(&t, buf);
}

class ErrorReport : public ::testing::Test {
 protected:
  void SetUp() override {
    point_to(dir_.write("kmv_err.dat", kErrorTexts), dir_.file("trq_err.out"));
    errmsg_to_screen = 1;
    errmsg_to_file = 1;
    headless::clear();
    SetMouseCursor(0);
    platform::clock::set_wall_time(kFixedTime);
    test_shutdown::calls = 0;
    test_shutdown::also = nullptr;
  }
  void TearDown() override {
    platform::clock::set_wall_time(0);
    headless::clear();
  }

  void point_to(const std::string &dat, const std::string &out) { globals_.point_to(dat, out); }

  std::vector<std::string> log_lines() const {
    std::vector<std::string> lines;
    std::istringstream in(testsupport::read_file(out_));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  std::string stamp_prefix() const {
    std::string s = ctime_of(kFixedTime);
    s.back() = ' ';
    return s + ":: ";
  }

  // In a child process: standard output joins standard error unbuffered,
  // so a death test sees the fatal line and the shutdown marker in order.
  static void merge_stdout() {
    std::fflush(stdout);
    dup2(2, 1);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
  }

  testsupport::TempDir dir_;
  testsupport::ErrorGlobals globals_;
  char (&dat_)[260] = globals_.dat;
  char (&out_)[260] = globals_.out;
};

// --- lookup ------------------------------------------------------------------

TEST(ErrorIdLine, OnlyABlankEndsTheKey) {
  struct Case {
    const char *id, *line;
    int carries, pos;
  } cases[] = {
      {"KEY", "KEY W \"x\"", 1, 3},
      {"KEY", "KEY\tW \"x\"", 0, 0},
      {"KEY", "KEYS W \"x\"", 0, 0},
      {"KEY", "KE W \"x\"", 0, 0},
      {"KEY", "KEY", 0, 0},
      {"KEY", "key W \"x\"", 0, 0},
      {"A", "A  \t F \"x\"", 1, 1},
  };
  for (const Case &c : cases) {
    int pos = -7;
    EXPECT_EQ(is_error_id(c.id, c.line, &pos), c.carries) << c.line;
    if (c.carries) {
      EXPECT_EQ(pos, c.pos) << c.line;
    }
  }
}

TEST_F(ErrorReport, LookupBuildsTheFormatFromTheFirstCarryingLine) {
  struct Case {
    const char *id;
    char severity;
    const char *text;  // the format, or for '0' the message
  } cases[] = {
      {"TEST_WARN", 'W', "W TEST_WARN warn %d %s"},
      {"TEST_ERR", 'E', "E TEST_ERR err %s"},
      {"TEST_FATAL", 'F', "F TEST_FATAL boom %d"},
      {"TEST_DUP", 'W', "W TEST_DUP first"},
      {"TEST_TAB", 'W', "W TEST_TAB after a blank"},
      {"TEST_CRLF", 'E', "E TEST_CRLF windows line"},
      {"TEST_PERCENT", 'W', "W TEST_PERCENT 100%% done"},
      // malformed lines: never fatal by themselves, never past the buffers
      {"TEST_NOQUOTE", 'W', "W TEST_NOQUOTE "},
      {"TEST_OPEN", 'W', "W TEST_OPEN no closing quote"},
      {"TEST_BADSEV", 'W', "W TEST_BADSEV unknown letter"},
      {"TEST_ZERO", 'W', "W TEST_ZERO zero letter"},
      // not carried
      {"TEST_LONG", '0', "E TEST_LONG Unknown error id !"},
      {"TEST_BLANK", '0', "E TEST_BLANK Unknown error id !"},
      {"TEST_SEMI", '0', "E TEST_SEMI Unknown error id !"},
      {"TEST_EMPTY", '0', "E TEST_EMPTY Unknown error id !"},
      {"", '0', "E  Unknown error id !"},
  };
  for (const Case &c : cases) {
    char format[512] = "junk";
    char message[512] = "junk";
    const char s = search_error_id(c.id, format, message);
    EXPECT_EQ(s, c.severity) << c.id;
    EXPECT_STREQ(s == '0' ? message : format, c.text) << c.id;
  }
}

TEST_F(ErrorReport, MissingErrorTextFile) {
  point_to(dir_.file("absent.dat"), dir_.file("trq_err.out"));
  char format[512], message[512];
  EXPECT_EQ(search_error_id("TEST_WARN", format, message), '0');
  EXPECT_STREQ(message, "F Cannot open error input file");
  EXPECT_EQ(search_error_id("MAIN_F_NOCONFIG", format, message), '0');
  EXPECT_STREQ(message, "F Cannot open configuration file");
  error_dat = nullptr;
  EXPECT_EQ(search_error_id("TEST_WARN", format, message), '0');
  EXPECT_STREQ(message, "F Cannot open error input file");
}

TEST_F(ErrorReport, OverlongLinesStayInTheirBuffers) {
  // The part of a long line beyond 511 characters is not a line of its own.
  std::string hidden = "PAD_LINE W \"" + std::string(498, 'x') + "\"TEST_HIDDEN W \"found\"\n";
  std::string long_text = "TEST_LONGTEXT E \"" + std::string(700, 'y') + "\"\n";
  point_to(dir_.write("long.dat", hidden + long_text), dir_.file("trq_err.out"));
  char format[512], message[512];
  EXPECT_EQ(search_error_id("TEST_HIDDEN", format, message), '0');
  EXPECT_EQ(search_error_id("TEST_LONGTEXT", format, message), 'E');
  EXPECT_LT(std::strlen(format), 512u);
  EXPECT_EQ(std::string(format, 16), "E TEST_LONGTEXT ");
}

TEST(ErrorFormat, IdentifierIsNeverAConversionAndCutsDropPartialOnes) {
  char format[512];
  EXPECT_EQ(read_format("A%sB", format, "A%sB E \"text %d\"", 4), 'E');
  EXPECT_STREQ(format, "E A%%sB text %d");

  // A text cut at the buffer's end inside "%l" loses the broken conversion.
  const std::string id(499, 'K');
  const std::string line = id + " W \"abcdefg %ld\"";
  read_format(id.c_str(), format, line.c_str(), static_cast<int>(id.size()));
  EXPECT_EQ(std::string(format).substr(502), "abcdefg ");

  EXPECT_EQ(read_format("N", format, "N W \"count%n here\"", 1), 'W');
  EXPECT_STREQ(format, "W N count here");
}

// --- reports -------------------------------------------------------------------

TEST_F(ErrorReport, WarningShownAndLogged) {
  SetMouseCursor(5);
  EXPECT_EQ(error("TEST_WARN", 3, "x"), 2);  // unscripted: Enter = Continue
  ASSERT_EQ(headless::shown().size(), 1u);
  const auto &box = headless::shown()[0];
  EXPECT_EQ(box.kind, "generic");
  EXPECT_EQ(box.title, "Warning");
  EXPECT_EQ(box.message, "     W TEST_WARN warn 3 x");
  EXPECT_EQ(box.buttons, (std::vector<std::string>{"Cancel", "Continue"}));
  EXPECT_EQ(box.active, 2);
  EXPECT_EQ(box.enter, 2);
  EXPECT_EQ(box.escape, 2);
  EXPECT_EQ(box.cursor_while_shown, -1);
  int cursor = 0;
  GetMouseCursor(&cursor);
  EXPECT_EQ(cursor, 5);
  EXPECT_EQ(log_lines(), (std::vector<std::string>{stamp_prefix() + "W TEST_WARN warn 3 x"}));
  EXPECT_EQ(test_shutdown::calls, 0);
}

TEST_F(ErrorReport, FlagsChooseScreenAndFile) {
  struct Case {
    int screen, file;
    size_t boxes, lines;
    int result;
  } cases[] = {{0, 0, 0, 0, 0}, {1, 0, 1, 0, 2}, {0, 1, 0, 1, 0}, {1, 1, 1, 1, 2}};
  for (const Case &c : cases) {
    headless::clear();
    std::remove(out_);
    errmsg_to_screen = c.screen;
    errmsg_to_file = c.file;
    EXPECT_EQ(error("TEST_ERR", "disk"), c.result);
    EXPECT_EQ(headless::shown().size(), c.boxes) << c.screen << c.file;
    EXPECT_EQ(log_lines().size(), c.lines) << c.screen << c.file;
    if (c.boxes) {
      EXPECT_EQ(headless::shown()[0].title, "Error");
    }
  }
}

TEST_F(ErrorReport, ReturnsTheButtonPressed) {
  headless::script_answers({1});
  EXPECT_EQ(error("TEST_DUP"), 1);
}

TEST_F(ErrorReport, FatalBoxHasOneAbortButton) {
  EXPECT_EQ(output_error("F X boom", 'F'), 1);
  const auto &box = headless::shown().back();
  EXPECT_EQ(box.title, "Fatal Error");
  EXPECT_EQ(box.message, "     F X boom");
  EXPECT_EQ(box.buttons, (std::vector<std::string>{"Abort"}));
  EXPECT_EQ(box.enter, 1);
  EXPECT_EQ(box.escape, 2);
  EXPECT_EQ(box.cursor_while_shown, -1);
  output_error("x", '0');
  EXPECT_EQ(headless::shown().back().title, "Warning");
}

TEST_F(ErrorReport, MessageIsCutToItsBuffers) {
  const std::string big(2000, 'z');
  error("TEST_ERR", big.c_str());
  const std::string expected = ("E TEST_ERR err " + big).substr(0, 511);
  EXPECT_EQ(headless::shown().back().message, "     " + expected);
  EXPECT_EQ(log_lines().back(), stamp_prefix() + expected);
}

TEST_F(ErrorReport, EachReportIsOneLogLine) {
  errmsg_to_screen = 0;
  error("TEST_ERR", "two\nlines\r");
  error("TEST_WARN", 1, "again");
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], stamp_prefix() + "E TEST_ERR err two lines ");
  EXPECT_EQ(lines[1], stamp_prefix() + "W TEST_WARN warn 1 again");
}

TEST_F(ErrorReport, TimeStampIsCtimeForm) {
  const std::string s = time_stamp();
  EXPECT_EQ(s, ctime_of(kFixedTime));
  EXPECT_EQ(s.size(), 25u);
  EXPECT_EQ(s.back(), '\n');
}

TEST_F(ErrorReport, UnwritableLogWithScreenOffShowsTheMessageThenTheWarning) {
  point_to(dat_, dir_.file("no/such/dir/trq_err.out"));
  errmsg_to_screen = 0;
  EXPECT_EQ(error("TEST_WARN", 1, "a"), 0);
  ASSERT_EQ(headless::shown().size(), 2u);
  EXPECT_EQ(headless::shown()[0].message, "     W TEST_WARN warn 1 a");
  EXPECT_EQ(headless::shown()[1].title, "Warning");
  EXPECT_EQ(headless::shown()[1].message, std::string("     Cannot open output file ") + out_);
}

TEST_F(ErrorReport, UnwritableLogWithScreenOnShowsTheWarningOnce) {
  point_to(dat_, dir_.file("no/such/dir/trq_err.out"));
  EXPECT_EQ(error("TEST_WARN", 1, "a"), 2);
  ASSERT_EQ(headless::shown().size(), 2u);
  EXPECT_EQ(headless::shown()[0].message, "     W TEST_WARN warn 1 a");
  EXPECT_EQ(headless::shown()[1].message, std::string("     Cannot open output file ") + out_);
}

TEST_F(ErrorReport, ErrorStrShowsAndLogsWhateverTheFlags) {
  errmsg_to_screen = 0;
  errmsg_to_file = 0;
  EXPECT_EQ(error_str(nullptr, 'W'), 0);
  EXPECT_TRUE(headless::shown().empty());
  EXPECT_EQ(error_str("W ready text", 'W'), 1);
  ASSERT_EQ(headless::shown().size(), 1u);
  EXPECT_EQ(headless::shown()[0].message, "     W ready text");
  EXPECT_EQ(log_lines(), (std::vector<std::string>{stamp_prefix() + "W ready text"}));
}

// --- the write-error latch -------------------------------------------------------

TEST_F(ErrorReport, WriteErrorLatch) {
  struct Case {
    int code;
    const char *text;
    int result;
    size_t boxes;
  } cases[] = {{0, "", 0, 0}, {28, "No space left on device", 28, 1}, {5, "", 0, 0}};
  for (const Case &c : cases) {
    headless::clear();
    GenWrFileErr = c.code;
    std::snprintf(GenWrFileErrStr, sizeof GenWrFileErrStr, "%s", c.text);
    EXPECT_EQ(Check_GenWrFileErr(), c.result) << c.code;
    EXPECT_EQ(GenWrFileErr, 0);
    ASSERT_EQ(headless::shown().size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(headless::shown()[0].title, "General Writing File Error");
      EXPECT_EQ(headless::shown()[0].message, c.text);
      EXPECT_EQ(headless::shown()[0].cursor_while_shown, -1);
      EXPECT_STREQ(GenWrFileErrStr, "");
    }
  }
  GenWrFileErr = 3;
  std::snprintf(GenWrFileErrStr, sizeof GenWrFileErrStr, "x");
  Clear_GenWrFileErr();
  EXPECT_EQ(GenWrFileErr, 0);
  EXPECT_STREQ(GenWrFileErrStr, "");
}

TEST_F(ErrorReport, LastWriteErrorOfTheLibrary) {
  errno = 0;
  EXPECT_EQ(Check_WriteFileErr(), 0);
  EXPECT_TRUE(headless::shown().empty());
  errno = ENOSPC;
  EXPECT_EQ(Check_WriteFileErr(), ENOSPC);
  ASSERT_EQ(headless::shown().size(), 1u);
  EXPECT_EQ(headless::shown()[0].title, "Writing File Error");
  EXPECT_EQ(headless::shown()[0].message, std::strerror(ENOSPC));
}

// --- fatal ends, each in a child process ---------------------------------------

using ErrorReportDeathTest = ErrorReport;

TEST_F(ErrorReportDeathTest, FatalReportShutsDownThenExits2) {
  EXPECT_EXIT(
      {
        merge_stdout();
        error("TEST_FATAL", 7);
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - F TEST_FATAL boom 7\n$");
}

TEST_F(ErrorReportDeathTest, FatalIsLoggedBeforeTheEnd) {
  errmsg_to_screen = 0;
  EXPECT_EXIT(
      {
        merge_stdout();
        error("TEST_FATAL", 8);
      },
      ::testing::ExitedWithCode(2), "");
  EXPECT_EQ(log_lines(), (std::vector<std::string>{stamp_prefix() + "F TEST_FATAL boom 8"}));
}

TEST_F(ErrorReportDeathTest, FatalWithBothFlagsOff) {
  errmsg_to_screen = 0;
  errmsg_to_file = 0;
  EXPECT_EXIT(
      {
        merge_stdout();
        error("TEST_FATAL", 9);
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - F TEST_FATAL boom 9\n$");
}

TEST_F(ErrorReportDeathTest, UnknownIdentifierIsFatal) {
  errmsg_to_screen = 0;
  EXPECT_EXIT(
      {
        merge_stdout();
        error("TEST_NOPE", 1);
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - E TEST_NOPE Unknown error id !\n$");
  EXPECT_EQ(log_lines(), (std::vector<std::string>{stamp_prefix() + "E TEST_NOPE Unknown error id !"}));
}

TEST_F(ErrorReportDeathTest, MissingErrorTextFileIsFatal) {
  point_to(dir_.file("absent.dat"), out_);
  EXPECT_EXIT(
      {
        merge_stdout();
        error("TEST_WARN", 1, "x");
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - F Cannot open error input file\n$");
  EXPECT_EXIT(
      {
        merge_stdout();
        error("MAIN_F_NOCONFIG");
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - F Cannot open configuration file\n$");
}

TEST_F(ErrorReportDeathTest, BoxThatReturnsZeroMakesItFatal) {
  EXPECT_EXIT(
      {
        merge_stdout();
        headless::script_answers({0});
        error("TEST_WARN", 2, "y");
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - W TEST_WARN warn 2 y\n$");
}

TEST_F(ErrorReportDeathTest, UnconfirmedLogFailureMakesItFatal) {
  point_to(dat_, dir_.file("no/such/dir/trq_err.out"));
  EXPECT_EXIT(
      {
        merge_stdout();
        headless::script_answers({2, 0});  // the report, then the log warning
        error("TEST_WARN", 3, "z");
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - W TEST_WARN warn 3 z\n$");
}

TEST_F(ErrorReportDeathTest, ErrorStrFatal) {
  EXPECT_EXIT(
      {
        merge_stdout();
        error_str("F ready", 'F');
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - F ready\n$");
}

TEST_F(ErrorReportDeathTest, FatalReportInsideShutdownDoesNotLoop) {
  errmsg_to_screen = 0;
  EXPECT_EXIT(
      {
        merge_stdout();
        test_shutdown::also = [] { error("TEST_FATAL", 2); };
        error("TEST_FATAL", 1);
      },
      ::testing::ExitedWithCode(2), "^shutdown called\n  Fatal error - F TEST_FATAL boom 2\n$");
}

}  // namespace
