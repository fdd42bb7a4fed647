// The buffered reader and writer, through the sim platform's files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/exit.h"
#include "platform/sim/sim.h"
#include "support/file_io.h"

namespace {

namespace fs = std::filesystem;

// A byte pattern that holds every value, 0xFF included, at varying places.
std::string patternBytes(int size) {
  std::string bytes(size, '\0');
  for (int i = 0; i < size; i++) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

std::u16string widen(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class FileIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetFileChannels();
    resetExitHandlers();
    simReset();
    std::string pattern = ::testing::TempDir() + "notalumen_fileio_XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
  }

  void TearDown() override {
    resetFileChannels();
    resetExitHandlers();
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  std::string path(const char* name) const { return (fs::path(dir) / name).string(); }

  void writeHost(const std::string& file, const std::string& bytes) const {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  std::string readHost(const std::string& file) const {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Opens file for reading by its narrow (wide = false) or wide name.
  int openReader(const std::string& file, bool wide) const {
    return wide ? rfwopen(widen(file).c_str()) : rfopen(file.c_str());
  }
  int openWriter(const std::string& file, bool wide) const {
    return wide ? wfwopen(widen(file).c_str()) : wfopen(file.c_str());
  }

  std::string dir;
};

// ---------------------------------------------------------------------------
// Reader: block boundaries and the end of the file, by both names.

class ReaderSizeTest : public FileIoTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(ReaderSizeTest, GivesEveryByteThenEndsForGood) {
  const int size = std::get<0>(GetParam());
  const bool wide = std::get<1>(GetParam());
  const std::string bytes = patternBytes(size);
  const std::string file = path("data.bin");
  writeHost(file, bytes);

  ASSERT_EQ(openReader(file, wide), 0);
  for (int i = 0; i < size; i++) {
    const int expected = static_cast<unsigned char>(bytes[i]);
    ASSERT_EQ(rfpeek(), expected) << "byte " << i;
    ASSERT_EQ(rfgetc(), expected) << "byte " << i;
  }
  EXPECT_EQ(rfpeek(), -1);
  const int calls = simFileCallCount();
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(rfgetc(), -1);
    EXPECT_EQ(rfpeek(), -1);
  }
  EXPECT_EQ(simFileCallCount(), calls) << "the end is sticky and reads nothing";
  rfclose();
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ReaderSizeTest,
                         ::testing::Combine(::testing::Values(0, 1, 4095, 4096, 4097, 8191, 8192, 8193),
                                            ::testing::Bool()));

TEST_F(FileIoTest, EmptyFileOpensWithTheEndAsLookAhead) {
  const std::string file = path("empty.ini");
  writeHost(file, "");
  for (bool wide : {false, true}) {
    ASSERT_EQ(openReader(file, wide), 0);
    EXPECT_EQ(rfpeek(), -1);
    EXPECT_EQ(rfgetc(), -1);
    rfclose();
  }
}

TEST_F(FileIoTest, ByteFFIsAValueNotTheEnd) {
  const std::string file = path("ff.bin");
  writeHost(file, std::string("\xFF\x00\xFF", 3));
  ASSERT_EQ(rfopen(file.c_str()), 0);
  EXPECT_EQ(rfpeek(), 255);
  EXPECT_EQ(rfgetc(), 255);
  EXPECT_EQ(rfgetc(), 0);
  EXPECT_EQ(rfpeek(), 255);
  EXPECT_EQ(rfgetc(), 255);
  EXPECT_EQ(rfgetc(), -1);
}

TEST_F(FileIoTest, ReadsWholeBlocksOnTheCallThatConsumesTheLastByte) {
  const std::string file = path("two_blocks.bin");
  writeHost(file, patternBytes(8192));
  for (bool wide : {false, true}) {
    ASSERT_EQ(openReader(file, wide), 0);
    int calls = simFileCallCount();
    for (int i = 0; i < 4095; i++) rfgetc();
    EXPECT_EQ(simFileCallCount(), calls) << "the first block is in memory";
    rfgetc();  // the 4096th byte: the second block is read
    EXPECT_EQ(simFileCallCount(), calls + 1);
    for (int i = 0; i < 4095; i++) rfgetc();
    EXPECT_EQ(simFileCallCount(), calls + 1);
    EXPECT_NE(rfpeek(), -1);
    rfgetc();  // the 8192nd byte: a read that gives nothing
    EXPECT_EQ(simFileCallCount(), calls + 2);
    EXPECT_EQ(rfpeek(), -1);
    rfclose();
  }
}

TEST_F(FileIoTest, NarrowAndWideOpensGiveTheSameBytes) {
  const std::string file = path("same.ini");
  const std::string bytes = patternBytes(10000);
  writeHost(file, bytes);
  std::string narrow, wide;
  ASSERT_EQ(rfopen(file.c_str()), 0);
  for (int c; (c = rfgetc()) != -1;) narrow.push_back(static_cast<char>(c));
  ASSERT_EQ(rfwopen(widen(file).c_str()), 0);
  for (int c; (c = rfgetc()) != -1;) wide.push_back(static_cast<char>(c));
  EXPECT_EQ(narrow, bytes);
  EXPECT_EQ(wide, bytes);
}

TEST_F(FileIoTest, FailingFirstReadIsAnEmptyFile) {
  const std::string file = path("a.ini");
  writeHost(file, "abc");
  for (bool wide : {false, true}) {
    simFailFileReads(1);
    ASSERT_EQ(openReader(file, wide), 0);
    EXPECT_EQ(rfpeek(), -1);
    EXPECT_EQ(rfgetc(), -1);
    rfclose();
  }
}

TEST_F(FileIoTest, FailingLaterReadIsTheEnd) {
  const std::string file = path("long.bin");
  const std::string bytes = patternBytes(9000);
  writeHost(file, bytes);
  for (bool wide : {false, true}) {
    ASSERT_EQ(openReader(file, wide), 0);
    simFailFileReads(1);
    for (int i = 0; i < 4096; i++) ASSERT_EQ(rfgetc(), static_cast<unsigned char>(bytes[i]));
    EXPECT_EQ(rfpeek(), -1);
    const int calls = simFileCallCount();
    EXPECT_EQ(rfgetc(), -1);
    EXPECT_EQ(rfgetc(), -1);
    EXPECT_EQ(simFileCallCount(), calls) << "no read is tried after the end";
    rfclose();
  }
}

TEST_F(FileIoTest, OpensThatFailReturnMinusOne) {
  const std::string missing = path("missing.ini");
  EXPECT_EQ(rfopen(missing.c_str()), -1);
  EXPECT_EQ(rfwopen(widen(missing).c_str()), -1);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(rfgetc(), -1);

  const std::string file = path("present.ini");
  writeHost(file, "x");
  simFailFileOpens(2);
  EXPECT_EQ(rfopen(file.c_str()), -1);
  EXPECT_EQ(rfwopen(widen(file).c_str()), -1);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(rfopen(file.c_str()), 0);
  EXPECT_EQ(rfgetc(), 'x');
}

TEST_F(FileIoTest, NarrowOpenAfterWideReadsTheNewFileAndCloses) {
  const std::string first = path("first.ini");
  const std::string second = path("second.ini");
  writeHost(first, "wide");
  writeHost(second, "narrow");
  ASSERT_EQ(rfwopen(widen(first).c_str()), 0);
  EXPECT_EQ(rfgetc(), 'w');
  ASSERT_EQ(rfopen(second.c_str()), 0);
  EXPECT_EQ(rfgetc(), 'n');
  // The first file was closed by the second open: the writer may take it.
  EXPECT_EQ(wfopen(first.c_str()), 0);
  EXPECT_EQ(wfclose(), 0);
  // The stream holds the second file until rfclose.
  EXPECT_EQ(wfopen(second.c_str()), -1);
  rfclose();
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(wfopen(second.c_str()), 0);
  EXPECT_EQ(wfclose(), 0);
}

TEST_F(FileIoTest, WideOpenClosesTheFileStillOpen) {
  const std::string first = path("first.ini");
  const std::string second = path("second.ini");
  writeHost(first, "1");
  writeHost(second, "2");
  ASSERT_EQ(rfopen(first.c_str()), 0);
  ASSERT_EQ(rfwopen(widen(second).c_str()), 0);
  EXPECT_EQ(rfgetc(), '2');
  EXPECT_EQ(wfwopen(widen(first).c_str()), 0);
  EXPECT_EQ(wfclose(), 0);
}

TEST_F(FileIoTest, CloseWithNothingOpenDoesNothing) {
  const int calls = simFileCallCount();
  rfclose();
  rfclose();
  EXPECT_EQ(simFileCallCount(), calls);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(FileIoTest, WriterCannotOpenAFileTheReaderHolds) {
  const std::string file = path("held.ini");
  for (bool wideReader : {false, true}) {
    writeHost(file, "keep");
    ASSERT_EQ(openReader(file, wideReader), 0);
    EXPECT_EQ(wfopen(file.c_str()), -1) << "reader wide: " << wideReader;
    EXPECT_EQ(wfwopen(widen(file).c_str()), -1) << "reader wide: " << wideReader;
    EXPECT_EQ(wfputc('x'), -1);
    EXPECT_EQ(readHost(file), "keep") << "the failed open must not truncate";
    EXPECT_EQ(rfgetc(), 'k');
    rfclose();
    ASSERT_EQ(wfopen(file.c_str()), 0);
    EXPECT_EQ(wfputs("new"), 0);
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(readHost(file), "new");
  }
}

TEST_F(FileIoTest, ReaderCannotOpenAFileTheWriterHolds) {
  const std::string file = path("out.ini");
  ASSERT_EQ(wfopen(file.c_str()), 0);
  EXPECT_EQ(rfopen(file.c_str()), -1);
  EXPECT_EQ(rfwopen(widen(file).c_str()), -1);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(rfopen(file.c_str()), 0);
}

// ---------------------------------------------------------------------------
// Reader: rfclose as an exit handler.

bool readerOpenAtCheck = false;
void checkReaderOpen() { readerOpenAtCheck = rfpeek() != -1; }

TEST_F(FileIoTest, ExitClosesTheReaderFile) {
  const std::string file = path("exit.ini");
  writeHost(file, "abc");
  ASSERT_EQ(rfopen(file.c_str()), 0);
  EXPECT_THROW(exitProgram(0), SimExit);
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(wfopen(file.c_str()), 0) << "the exit handler closed the reader's file";
  EXPECT_EQ(wfclose(), 0);
}

TEST_F(FileIoTest, ExitHandlerIsRegisteredOnlyOnce) {
  const std::string file = path("once.ini");
  writeHost(file, "abc");
  ASSERT_EQ(rfopen(file.c_str()), 0);  // registers rfclose
  registerExitHandler(checkReaderOpen);  // runs before that rfclose
  rfclose();
  ASSERT_EQ(rfwopen(widen(file).c_str()), 0);
  rfclose();
  ASSERT_EQ(rfopen(file.c_str()), 0);  // a second rfclose newer than the check would close it
  readerOpenAtCheck = false;
  EXPECT_THROW(exitProgram(0), SimExit);
  EXPECT_TRUE(readerOpenAtCheck);
  EXPECT_EQ(rfpeek(), -1);
}

TEST_F(FileIoTest, FailedOpensRegisterNoExitHandler) {
  const std::string missing = path("missing.ini");
  EXPECT_EQ(rfopen(missing.c_str()), -1);
  EXPECT_EQ(rfwopen(widen(missing).c_str()), -1);
  // The list is free: sixteen handlers of our own fit (a seventeenth would assert).
  for (int i = 0; i < 16; i++) registerExitHandler(checkReaderOpen);
  EXPECT_THROW(exitProgram(0), SimExit);
}

// ---------------------------------------------------------------------------
// Writer: content and blocks.

class WriterSizeTest : public FileIoTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(WriterSizeTest, WritesWholeBlocksAndTheRestOnClose) {
  const int size = std::get<0>(GetParam());
  const bool wide = std::get<1>(GetParam());
  const std::string bytes = patternBytes(size);
  const std::string file = path("out.bin");
  ASSERT_EQ(openWriter(file, wide), 0);
  const int calls = simFileCallCount();
  for (int i = 0; i < size; i++) {
    ASSERT_EQ(wfputc(static_cast<unsigned char>(bytes[i])), 0);
    // One osFileWrite per full block, on the byte that fills it.
    ASSERT_EQ(simFileCallCount(), calls + (i + 1) / 4096) << "byte " << i;
  }
  EXPECT_EQ(readHost(file).size(), static_cast<size_t>(size / 4096 * 4096));
  EXPECT_EQ(wfclose(), 0);
  const int rest = size % 4096 ? 1 : 0;
  EXPECT_EQ(simFileCallCount(), calls + size / 4096 + rest + 1) << "blocks, the rest, the close";
  EXPECT_EQ(readHost(file), bytes);
  EXPECT_EQ(wfputc('x'), -1) << "closed";
}

INSTANTIATE_TEST_SUITE_P(Boundaries, WriterSizeTest,
                         ::testing::Combine(::testing::Values(0, 1, 4095, 4096, 4097, 8192, 10000),
                                            ::testing::Bool()));

TEST_F(FileIoTest, OpenTruncatesAnExistingFile) {
  const std::string file = path("old.ini");
  for (bool wide : {false, true}) {
    writeHost(file, "old contents");
    ASSERT_EQ(openWriter(file, wide), 0);
    EXPECT_EQ(readHost(file), "");
    EXPECT_EQ(wfputs("ab"), 0);
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(readHost(file), "ab");
  }
}

TEST_F(FileIoTest, FlushWritesTheBufferOnBothBackEnds) {
  const std::string file = path("flush.ini");
  for (bool wide : {false, true}) {
    ASSERT_EQ(openWriter(file, wide), 0);
    EXPECT_EQ(wfputs("abc"), 0);
    EXPECT_EQ(readHost(file), "");
    EXPECT_EQ(wfflush(), 0);
    EXPECT_EQ(readHost(file), "abc");
    const int calls = simFileCallCount();
    EXPECT_EQ(wfflush(), 0);
    EXPECT_EQ(simFileCallCount(), calls) << "an empty buffer writes nothing";
    EXPECT_EQ(wfputs("def"), 0);
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(readHost(file), "abcdef");
  }
}

TEST_F(FileIoTest, PutsHonoursThe513ByteRule) {
  const std::string file = path("puts.ini");
  std::string text513;
  for (int i = 0; i < 513; i++) text513.push_back(static_cast<char>('a' + i % 26));
  std::string text514 = text513 + "b";
  std::string text600 = text513 + std::string(87, 'c');
  ASSERT_EQ(wfopen(file.c_str()), 0);
  EXPECT_EQ(wfputs(""), 0);
  EXPECT_EQ(wfputs(text513.substr(0, 512).c_str()), 0);
  EXPECT_EQ(wfputs("|"), 0);
  EXPECT_EQ(wfputs(text513.c_str()), 1);
  EXPECT_EQ(wfputs("|"), 0);
  EXPECT_EQ(wfputs(text514.c_str()), 1);
  EXPECT_EQ(wfputs("|"), 0);
  EXPECT_EQ(wfputs(text600.c_str()), 1);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHost(file), text513.substr(0, 512) + "|" + text513 + "|" + text513 + "|" + text513);
}

TEST_F(FileIoTest, PutsAtTheBlockBoundaryWritesOneBlock) {
  const std::string file = path("block.ini");
  ASSERT_EQ(wfwopen(widen(file).c_str()), 0);
  const int calls = simFileCallCount();
  const std::string line(256, 'x');
  for (int i = 0; i < 16; i++) ASSERT_EQ(wfputs(line.c_str()), 0);
  EXPECT_EQ(simFileCallCount(), calls + 1);
  EXPECT_EQ(readHost(file), std::string(4096, 'x'));
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls + 2) << "an empty buffer: only the close";
}

// ---------------------------------------------------------------------------
// Writer: failures.

TEST_F(FileIoTest, WritesFailBeforeTheFirstOpen) {
  const int calls = simFileCallCount();
  EXPECT_EQ(wfputc('a'), -1);
  EXPECT_EQ(wfputs("abc"), -1);
  EXPECT_EQ(wfputs(std::string(600, 'a').c_str()), -1);
  EXPECT_EQ(wfflush(), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls);
}

TEST_F(FileIoTest, FailedOpensLeaveTheWriterClosed) {
  const std::string nowhere = path("no_such_dir/out.ini");
  EXPECT_EQ(wfopen(nowhere.c_str()), -1);
  EXPECT_EQ(wfputc('a'), -1);
  EXPECT_EQ(wfwopen(widen(nowhere).c_str()), -1);
  EXPECT_EQ(wfputc('a'), -1);

  const std::string file = path("out.ini");
  simFailFileOpens(2);
  EXPECT_EQ(wfopen(file.c_str()), -1);
  EXPECT_EQ(wfwopen(widen(file).c_str()), -1);
  EXPECT_EQ(wfputc('a'), -1);
  EXPECT_EQ(wfclose(), 0);
  ASSERT_EQ(wfopen(file.c_str()), 0);
  EXPECT_EQ(wfputc('a'), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHost(file), "a");
}

// After a failing or short block write the file is closed at once, the bytes
// are lost, and every later write fails without a file call.
class WriterFailureTest : public FileIoTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(WriterFailureTest, BlockWriteFailureClosesTheFile) {
  const bool wide = std::get<0>(GetParam());
  const bool shortWrite = std::get<1>(GetParam());
  const std::string file = path("fail.ini");
  ASSERT_EQ(openWriter(file, wide), 0);
  for (int i = 0; i < 4095; i++) ASSERT_EQ(wfputc('a'), 0);
  if (shortWrite) {
    simShortFileWrites(1);
  } else {
    simFailFileWrites(1);
  }
  EXPECT_EQ(wfputc('a'), -1);
  const int calls = simFileCallCount();
  EXPECT_EQ(wfputc('b'), -1);
  EXPECT_EQ(wfputs("more"), -1);
  EXPECT_EQ(wfflush(), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls) << "no file call after the failure";
  EXPECT_LT(readHost(file).size(), 4096u) << "no second attempt";
  // The file is closed: the reader (which needs no writer on it) opens it.
  EXPECT_EQ(rfopen(file.c_str()), 0);
  rfclose();
  // A new open clears the closed flag.
  ASSERT_EQ(openWriter(file, wide), 0);
  EXPECT_EQ(wfputs("ok"), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHost(file), "ok");
}

INSTANTIATE_TEST_SUITE_P(Kinds, WriterFailureTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

TEST_F(FileIoTest, FlushFailureClosesTheFile) {
  const std::string file = path("flushfail.ini");
  ASSERT_EQ(wfopen(file.c_str()), 0);
  EXPECT_EQ(wfputs("abc"), 0);
  simFailFileWrites(1);
  EXPECT_EQ(wfflush(), -1);
  EXPECT_EQ(wfputc('d'), -1);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHost(file), "");
  EXPECT_EQ(rfopen(file.c_str()), 0);
}

TEST_F(FileIoTest, CloseWithAFailingLastWriteFails) {
  const std::string file = path("closefail.ini");
  for (bool shortWrite : {false, true}) {
    ASSERT_EQ(wfwopen(widen(file).c_str()), 0);
    EXPECT_EQ(wfputs("abcd"), 0);
    if (shortWrite) {
      simShortFileWrites(1);
    } else {
      simFailFileWrites(1);
    }
    EXPECT_EQ(wfclose(), -1);
    const int calls = simFileCallCount();
    EXPECT_EQ(wfclose(), 0);
    EXPECT_EQ(wfputc('x'), -1);
    EXPECT_EQ(simFileCallCount(), calls);
    EXPECT_EQ(rfwopen(widen(file).c_str()), 0) << "closed";
    rfclose();
  }
}

TEST_F(FileIoTest, PutsReportsAFailureInsideTheText) {
  const std::string file = path("putsfail.ini");
  ASSERT_EQ(wfopen(file.c_str()), 0);
  for (int i = 0; i < 4000; i++) ASSERT_EQ(wfputc('a'), 0);
  simFailFileWrites(1);
  EXPECT_EQ(wfputs(std::string(200, 'b').c_str()), -1);
  EXPECT_EQ(wfputs("x"), -1);
}

TEST_F(FileIoTest, CloseTwiceDoesNothingTheSecondTime) {
  const std::string file = path("twice.ini");
  ASSERT_EQ(wfopen(file.c_str()), 0);
  EXPECT_EQ(wfputc('z'), 0);
  EXPECT_EQ(wfclose(), 0);
  const int calls = simFileCallCount();
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(simFileCallCount(), calls);
  EXPECT_EQ(readHost(file), "z");
}

TEST_F(FileIoTest, OpeningAgainClosesTheFirstFileWithItsBytes) {
  const std::string first = path("first.ini");
  const std::string second = path("second.ini");
  ASSERT_EQ(wfopen(first.c_str()), 0);
  EXPECT_EQ(wfputs("one"), 0);
  ASSERT_EQ(wfwopen(widen(second).c_str()), 0);
  EXPECT_EQ(wfputs("two"), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(readHost(first), "one");
  EXPECT_EQ(readHost(second), "two");
}

TEST_F(FileIoTest, ResetClosesBothChannels) {
  const std::string in = path("in.ini");
  const std::string out = path("out.ini");
  writeHost(in, "abc");
  ASSERT_EQ(rfopen(in.c_str()), 0);
  ASSERT_EQ(wfopen(out.c_str()), 0);
  EXPECT_EQ(wfputs("dropped"), 0);
  resetFileChannels();
  EXPECT_EQ(rfpeek(), -1);
  EXPECT_EQ(wfputc('x'), -1);
  EXPECT_EQ(readHost(out), "");
  // Both files are free again.
  EXPECT_EQ(wfopen(in.c_str()), 0);
  EXPECT_EQ(wfclose(), 0);
  EXPECT_EQ(rfwopen(widen(out).c_str()), 0);
}

}  // namespace
