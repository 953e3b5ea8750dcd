#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/win/files.h"
#include "support/File.h"
#include "support/Qv_err.h"
#include "tests/testsupport/testsupport.h"

namespace {
using platform::files::Fault;
using platform::files::Op;

class FileObject : public ::testing::Test {
 protected:
  void SetUp() override { create_empty_file(&rec); }
  void TearDown() override {
    platform::files::set_fault_hook({});
    if (rec.state == FILE_STATE_OPEN) close_file(&rec);
  }
  // A record open on a file holding content.
  void open_on(const std::string &content, const std::string &name = "f.bin") {
    path = dir.write(name, content);
    ASSERT_GE(open_file(&rec, path.c_str()), 0);
  }
  void close_on(const std::string &content) {
    open_on(content);
    ASSERT_EQ(close_file(&rec), 0);
  }

  testsupport::TempDir dir;
  std::string path;
  FileRecord rec{};
};

TEST_F(FileObject, EveryOperationChecksTheState) {
  // (state, expected result, expected code) for each operation: empty records
  // say "BFILE_EMPTY", closed ones code 0, both -1.
  struct Case {
    const char *what;
    std::function<int64_t(FileRecord *)> op;
  };
  char buf[16] = {};
  const std::vector<Case> ops = {
      {"tell", [](FileRecord *r) { return tell_file(r); }},
      {"seek", [](FileRecord *r) { return seek_file(r, 1, 0); }},
      {"rewind", [](FileRecord *r) { return rewind_file(r); }},
      {"end", [](FileRecord *r) { return end_file(r); }},
      {"size", [](FileRecord *r) { return size_file(r); }},
      {"read", [&](FileRecord *r) { return read_file(r, buf, 4); }},
      {"read_c", [&](FileRecord *r) { return static_cast<int64_t>(read_file_c(r, buf, 16)); }},
      {"write", [](FileRecord *r) { return write_file(r, "x", 1); }},
      {"write_c", [](FileRecord *r) { return write_file_c(r, "x\n"); }},
      {"compressed", [&](FileRecord *r) { return read_compressed(r, buf, 16); }},
  };
  for (const Case &c : ops) {
    SCOPED_TRACE(c.what);
    FileRecord empty{};
    create_empty_file(&empty);
    EXPECT_EQ(c.op(&empty), -1);
    EXPECT_EQ(empty.error, BFILE_EMPTY);
  }
  close_on("abc\r\n");
  for (const Case &c : ops) {
    SCOPED_TRACE(c.what);
    rec.error = BFILE_READ;
    EXPECT_EQ(c.op(&rec), -1);
    EXPECT_EQ(rec.error, BFILE_CLOSED);
    EXPECT_EQ(rec.state, FILE_STATE_CLOSED);
  }
}

TEST_F(FileObject, LifecycleAcrossTheThreeStates) {
  EXPECT_EQ(close_file(&rec), -1);
  EXPECT_EQ(rec.error, BFILE_EMPTY);
  EXPECT_EQ(reopen_file(&rec), -1);
  EXPECT_EQ(rec.error, BFILE_EMPTY);
  EXPECT_EQ(close_and_free(&rec), -1);
  EXPECT_EQ(rec.state, FILE_STATE_EMPTY);

  open_on("hello");
  EXPECT_EQ(rec.state, FILE_STATE_OPEN);
  EXPECT_EQ(std::string(rec.path), path);
  EXPECT_EQ(open_file(&rec, path.c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_NOTEMPTY);
  EXPECT_EQ(create_file(&rec, path.c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_NOTEMPTY);
  const int h = rec.handle;
  EXPECT_EQ(reopen_file(&rec), h);  // open already: the same handle

  EXPECT_EQ(close_file(&rec), 0);
  EXPECT_EQ(rec.state, FILE_STATE_CLOSED);
  EXPECT_EQ(std::string(rec.path), path);
  EXPECT_EQ(close_file(&rec), 0);
  EXPECT_EQ(open_file(&rec, path.c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_NOTEMPTY);

  EXPECT_GE(reopen_file(&rec), 0);
  EXPECT_EQ(rec.state, FILE_STATE_OPEN);
  EXPECT_EQ(size_file(&rec), 5);
  EXPECT_EQ(unlink_file(&rec), 0);
  EXPECT_EQ(rec.state, FILE_STATE_EMPTY);
  EXPECT_STREQ(rec.path, "");
  EXPECT_EQ(testsupport::read_file(path), "hello");  // unlink deletes nothing
}

TEST_F(FileObject, OpenRefusesMissingFilesDirectoriesAndLongPaths) {
  EXPECT_EQ(open_file(&rec, dir.file("missing").c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_FALSE(exist_file(dir.path().c_str()));
  EXPECT_EQ(open_file(&rec, dir.path().c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_EQ(create_file(&rec, dir.path().c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_EQ(rec.state, FILE_STATE_EMPTY);

  // 259 characters fit the record, 260 do not.
  const size_t room = FILE_PATH_SIZE - 1 - dir.path().size() - 1;
  const std::string fits = dir.write(std::string(room, 'a'), "x");
  const std::string too_long = dir.write(std::string(room + 1, 'b'), "x");
  ASSERT_EQ(fits.size(), 259u);
  EXPECT_GE(open_file(&rec, fits.c_str()), 0);
  EXPECT_EQ(std::string(rec.path), fits);
  close_and_free(&rec);
  EXPECT_EQ(open_file(&rec, too_long.c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_EQ(create_file(&rec, too_long.c_str()), -1);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  EXPECT_EQ(create_file_class(&rec, too_long.c_str()), 0);
  EXPECT_EQ(rec.error, BFILE_OPEN);
}

TEST_F(FileObject, CreateFileClassJudgedByTheCode) {
  EXPECT_EQ(create_file_class(nullptr, "x"), 0);
  EXPECT_EQ(create_file_class(&rec, dir.file("none").c_str()), 0);
  EXPECT_EQ(rec.state, FILE_STATE_EMPTY);
  EXPECT_EQ(rec.error, BFILE_OPEN);
  const std::string p = dir.write("auto.set", "x");
  EXPECT_EQ(create_file_class(&rec, p.c_str()), 1);
  EXPECT_EQ(rec.state, FILE_STATE_OPEN);
  EXPECT_EQ(rec.error, BFILE_CLOSED);
  EXPECT_EQ(close_and_free(&rec), 0);
}

TEST_F(FileObject, ReadOnlyFileOpensForReading) {
  path = dir.write("ro.set", "data");
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_GE(open_file(&rec, path.c_str()), 0);
  char buf[8] = {};
  EXPECT_EQ(read_file(&rec, buf, 4), 4);
  EXPECT_EQ(write_file(&rec, "x", 1), -1);
  EXPECT_EQ(rec.error, BFILE_WRITE);
  EXPECT_EQ(testsupport::read_file(path), "data");
}

TEST_F(FileObject, ReadCountsAndEndOfFile) {
  open_on("0123456789");
  char buf[32] = {};
  EXPECT_EQ(read_file(&rec, buf, 0), 0);
  EXPECT_EQ(rec.error, BFILE_EOF);
  EXPECT_EQ(read_file(&rec, buf, 4), 4);
  EXPECT_EQ(rec.error, BFILE_CLOSED);
  EXPECT_EQ(read_file(&rec, buf, 20), 6);  // the rest, then the end
  EXPECT_EQ(rec.error, BFILE_EOF);
  EXPECT_EQ(std::string(buf, 6), "456789");
  EXPECT_EQ(read_file(&rec, buf, 4), 0);
  EXPECT_EQ(rec.error, BFILE_EOF);
  EXPECT_EQ(read_file(&rec, buf, -1), -1);
  EXPECT_EQ(rec.error, BFILE_READ);
}

TEST_F(FileObject, LargeReadFailingOnceIsReadAgainInPieces) {
  constexpr int64_t kPiece = 0x2000000;
  const int64_t size = kPiece + 100;
  path = dir.file("big.bin");
  ASSERT_EQ(truncate(dir.write("big.bin", "").c_str(), size), 0);
  ASSERT_GE(open_file(&rec, path.c_str()), 0);
  std::vector<int64_t> asked;
  bool failed_once = false;
  platform::files::set_fault_hook([&](Op op, int, int64_t count) {
    Fault f;
    if (op != Op::read) return f;
    asked.push_back(count);
    if (count > kPiece && !failed_once) failed_once = f.fail = true;
    return f;
  });
  std::vector<char> buf(static_cast<size_t>(size + 50));
  EXPECT_EQ(read_file(&rec, buf.data(), size + 50), size);
  EXPECT_EQ(rec.error, BFILE_EOF);
  // The failed request, two pieces of it (the second short: the end), then
  // the end of the file.
  EXPECT_EQ(asked, (std::vector<int64_t>{size + 50, kPiece, 150, 50}));

  // A piece that fails fails the read.
  rewind_file(&rec);
  platform::files::set_fault_hook([&](Op op, int, int64_t count) {
    Fault f;
    f.fail = op == Op::read && (count > kPiece || count == 100);
    return f;
  });
  EXPECT_EQ(read_file(&rec, buf.data(), size), -1);
  EXPECT_EQ(rec.error, BFILE_READ);
}

TEST_F(FileObject, ReadLineCases) {
  // Lines read with a buffer of 8 bytes.
  struct Case {
    const char *content;
    int result;
    const char *line;
    int64_t position;
  };
  const Case cases[] = {
      {"abcdef\r\nz", 7, "abcdef", 8},
      {"abcdefg\r\nz", 8, "abcdefg", 9},  // length - 1 characters: whole
      {"abcdefgh\r\nz", -3, "abcdefg", 7},  // one more: cut, position behind them
      {"ab\ncd\r\n", 6, "ab\ncd", 7},       // a lone LF is a character
      {"\r\nx", 1, "", 2},
      {"xyz", 4, "xyz", 3},                 // last line without CR LF
      {"ab\r", 3, "ab", 4},                 // CR as the last byte
      {"", -1, "", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.content);
    create_empty_file(&rec);
    open_on(c.content);
    char line[8];
    std::memset(line, '#', sizeof line);
    EXPECT_EQ(read_file_c(&rec, line, 8), c.result);
    if (c.result != -1) {
      EXPECT_STREQ(line, c.line);
      EXPECT_EQ(rec.error, BFILE_CLOSED);
    } else {
      EXPECT_EQ(rec.error, BFILE_EOF);
    }
    EXPECT_EQ(tell_file(&rec), c.position);
    close_and_free(&rec);
  }
  open_on("abc\r\n");
  char one[1];
  EXPECT_EQ(read_file_c(&rec, one, 1), -3);  // no progress; callers bound their loops
  EXPECT_EQ(tell_file(&rec), 0);
  EXPECT_EQ(read_file_c(&rec, one, 0), -1);
  EXPECT_EQ(rec.error, BFILE_READ);
}

TEST_F(FileObject, TextWritingInsertsCarriageReturns) {
  path = dir.file("t.txt");
  ASSERT_GE(create_file(&rec, path.c_str()), 0);
  EXPECT_EQ(write_file_c(&rec, "a\nb"), 4);
  EXPECT_EQ(write_file_c(&rec, "\r\n"), 3);  // a CR already there is doubled
  EXPECT_EQ(write_file_c(&rec, ""), 0);
  EXPECT_EQ(rec.error, BFILE_CLOSED);
  const std::string long_arg(2000, 'x');
  EXPECT_EQ(writef(&rec, "%s|%d\n", long_arg.c_str(), 7), 1023);  // cut at 1023 characters
  close_file(&rec);
  EXPECT_EQ(testsupport::read_file(path), "a\r\nb\r\r\n" + std::string(1023, 'x'));
}

TEST_F(FileObject, WriteFailureLatchesTheFirstError) {
  GenWrFileErr = 0;
  GenWrFileErrStr[0] = '\0';
  ASSERT_GE(create_file(&rec, "/dev/full"), 0);
  EXPECT_EQ(write_file(&rec, "abc", 3), -1);
  EXPECT_EQ(rec.error, BFILE_WRITE);
  EXPECT_EQ(GenWrFileErr, FMT_IO_DISK_FULL);
  EXPECT_STREQ(GenWrFileErrStr, GetFmtIOErrorString(FMT_IO_DISK_FULL));
  EXPECT_EQ(write_file_c(&rec, "x\n"), -1);
  close_and_free(&rec);

  // A later failure of another kind leaves the latch as it is.
  path = dir.file("w.bin");
  ASSERT_GE(create_file(&rec, path.c_str()), 0);
  platform::files::set_fault_hook([](Op op, int, int64_t) {
    Fault f;
    f.fail = op == Op::write;
    f.code = FMT_IO_ACCESS_DENIED;
    return f;
  });
  EXPECT_EQ(write_file(&rec, "abc", 3), -1);
  EXPECT_EQ(GenWrFileErr, FMT_IO_DISK_FULL);

  // A write that moves nothing ends as a failure instead of repeating.
  platform::files::set_fault_hook([](Op op, int, int64_t) {
    Fault f;
    if (op == Op::write) f.limit = 0;
    return f;
  });
  EXPECT_EQ(write_file(&rec, "abc", 3), -1);
  EXPECT_EQ(rec.error, BFILE_WRITE);
  platform::files::set_fault_hook({});
  EXPECT_EQ(write_file(&rec, "abc", 0), 0);
  EXPECT_EQ(rec.error, BFILE_CLOSED);
  GenWrFileErr = 0;
  GenWrFileErrStr[0] = '\0';
}

TEST_F(FileObject, FailedCallsLeaveTheirCodes) {
  open_on("abcdef");
  struct Case {
    Op op;
    std::function<int64_t()> call;
    int code;
  };
  char buf[8];
  const Case cases[] = {
      {Op::seek, [&] { return seek_file(&rec, 2, 0); }, BFILE_SEEK},
      {Op::seek, [&] { return tell_file(&rec); }, BFILE_TELL},
      {Op::read, [&] { return read_file(&rec, buf, 2); }, BFILE_READ},
      {Op::read, [&] { return static_cast<int64_t>(read_file_c(&rec, buf, 8)); }, BFILE_READ},
  };
  for (const Case &c : cases) {
    platform::files::set_fault_hook([&](Op op, int, int64_t) {
      Fault f;
      f.fail = op == c.op;
      return f;
    });
    EXPECT_EQ(c.call(), -1);
    EXPECT_EQ(rec.error, c.code);
  }
  EXPECT_EQ(seek_file(&rec, -5, 0), -1);
  EXPECT_EQ(rec.error, BFILE_SEEK);

  // A failed close leaves the record closed: its handle is gone either way.
  platform::files::set_fault_hook([](Op op, int, int64_t) {
    Fault f;
    f.fail = op == Op::close;
    return f;
  });
  EXPECT_EQ(close_file(&rec), -1);
  EXPECT_EQ(rec.error, BFILE_CLOSE);
  EXPECT_EQ(rec.state, FILE_STATE_CLOSED);
  platform::files::set_fault_hook({});
  // The reopen of a file that went away.
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(reopen_file(&rec), -1);
  EXPECT_EQ(rec.error, BFILE_REOPEN);
  EXPECT_EQ(close_and_free(&rec), 0);
}

TEST_F(FileObject, OpenKeepsTheLibraryErrorSwitch) {
  path = dir.write("a", "x");
  DisableBreakOnLibraryErrors();
  ASSERT_GE(open_file(&rec, path.c_str()), 0);
  EXPECT_EQ(GetBreakOnLibraryErrors(), 0);
  close_file(&rec);
  EnableBreakOnLibraryErrors();
  ASSERT_GE(reopen_file(&rec), 0);
  EXPECT_EQ(GetBreakOnLibraryErrors(), 1);
}

TEST_F(FileObject, FunctionsWithoutCaller) {
  char name[FILE_PATH_SIZE];
  EXPECT_EQ(get_filename(&rec, name), -1);
  EXPECT_EQ(rec.error, BFILE_EMPTY);
  EXPECT_EQ(dup_file(&rec), -1);

  open_on("a\tb  c\r\n\r\n\n\nd", "run.v1.cfg");
  EXPECT_EQ(get_filename(&rec, name), 0);
  EXPECT_STREQ(name, "/run.v1");
  const int h2 = dup_file(&rec);
  ASSERT_GE(h2, 0);
  EXPECT_NE(h2, rec.handle);
  CloseFile(h2);
  EXPECT_EQ(rec.state, FILE_STATE_OPEN);

  // .cfg contents are stored inverted.
  close_and_free(&rec);
  std::string plain = "a\tb  c\r\n\r\n\n\nd";
  std::string inverted;
  for (char c : plain) inverted.push_back(static_cast<char>(~c));
  open_on(inverted, "x.cfg");
  std::vector<char> buf(plain.size() + 1, '#');
  EXPECT_EQ(read_compressed(&rec, buf.data(), static_cast<int64_t>(buf.size())), 7);
  EXPECT_EQ(std::string(buf.data(), 7), "a b c\nd");
  EXPECT_EQ(buf[7], 1);

  // Nothing to pack away: the end mark still lies inside the buffer.
  close_and_free(&rec);
  open_on("abcdefgh");
  char small[4];
  EXPECT_EQ(read_compressed(&rec, small, 4), 3);
  EXPECT_EQ(std::string(small, 3), "abc");
  EXPECT_EQ(small[3], 1);
  EXPECT_EQ(delete_file(&rec), 0);
  EXPECT_EQ(rec.state, FILE_STATE_EMPTY);
}

}  // namespace
