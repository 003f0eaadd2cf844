// The Pfile input both tools read through: the same first bytes whether they
// come from a regular file or a pipe that hands them over in small pieces,
// inputs that end early, read errors, and byte reversal.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <bit>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/bytes.hpp"
#include "common/pfile_input.hpp"
#include "support/files.hpp"

using pfile::ReadResult;
using testing_support::TempDir;
using testing_support::write_file;

namespace {

// `size` bytes, each telling its own offset modulo 251.
std::string numbered(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// A pipe whose writer hands `bytes` over in pieces of `piece` bytes, so that
// reads on the other end come back partial.
class TricklePipe {
 public:
  TricklePipe(std::string bytes, std::size_t piece) {
    std::signal(SIGPIPE, SIG_IGN);  // the reader may close before all is written
    if (pipe(fds_) != 0) throw std::runtime_error("pipe");
    writer_ = std::thread([this, bytes = std::move(bytes), piece] {
      for (std::size_t at = 0; at < bytes.size(); at += piece) {
        const std::size_t n = std::min(piece, bytes.size() - at);
        if (write(fds_[1], bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
        std::this_thread::yield();
      }
      close(fds_[1]);
    });
  }
  ~TricklePipe() {
    close(fds_[0]);  // a writer still blocked then fails with EPIPE and ends
    writer_.join();
  }
  int fd() const { return fds_[0]; }

 private:
  int fds_[2];
  std::thread writer_;
};

std::string readThrough(int fd, std::size_t count, ReadResult& result) {
  std::vector<std::byte> into(count, std::byte{0x55});
  result = pfile::readFully(fd, into);
  return {reinterpret_cast<const char*>(into.data()), result.got};
}

}  // namespace

// A file, and a pipe that hands the same bytes over in small pieces, give the
// first `count` bytes, or all there are when the input ends early, and no error.
TEST(PfileInput, AFileAndAPipeInSmallPiecesGiveTheSameBytes) {
  const struct {
    std::size_t size, count, piece;
  } cases[] = {{70000, 66104, 97}, {1000, 1001, 33}, {1000, 5000, 33}};
  for (const auto& [size, count, piece] : cases) {
    SCOPED_TRACE(std::to_string(size) + " bytes, " + std::to_string(count) + " asked");
    const std::string bytes = numbered(size);
    TempDir dir;
    write_file(dir / "P.7", bytes);
    const int file = pfile::openInput((dir / "P.7").c_str());
    ASSERT_GE(file, 0);
    TricklePipe pipe(bytes, piece);
    for (const int fd : {file, pipe.fd()}) {
      ReadResult r;
      EXPECT_EQ(readThrough(fd, count, r), bytes.substr(0, count));
      EXPECT_EQ(r.got, std::min(size, count));
      EXPECT_EQ(r.error, 0);
    }
    close(file);
  }
}

TEST(PfileInput, AReadErrorIsNeverData) {
  TempDir dir;
  const int directory = pfile::openInput(dir.path().c_str());
  ASSERT_GE(directory, 0);
  ReadResult r;
  readThrough(directory, 100, r);
  EXPECT_EQ(r.got, 0u);
  EXPECT_EQ(r.error, EISDIR);
  close(directory);

  const int closed = 1000;  // no such descriptor
  readThrough(closed, 100, r);
  EXPECT_EQ(r.error, EBADF);

  // A pipe's write end cannot be read.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  readThrough(fds[1], 100, r);
  EXPECT_EQ(r.error, EBADF);
  close(fds[0]);
  close(fds[1]);
}

// A signal caught while a read waits for its bytes interrupts the read; the
// read goes on and gets them.
TEST(PfileInput, ASignalDuringAReadIsNotAnError) {
  struct sigaction on_usr1 {}, old_usr1 {};
  on_usr1.sa_handler = +[](int) {};  // without SA_RESTART the waiting read fails with EINTR
  sigaction(SIGUSR1, &on_usr1, &old_usr1);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pthread_t reader = pthread_self();
  ssize_t written = 0;
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(reader, SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    written = write(fds[1], "abc", 3);
    close(fds[1]);
  });
  ReadResult r;
  EXPECT_EQ(readThrough(fds[0], 3, r), "abc");
  EXPECT_EQ(r.error, 0);
  writer.join();
  close(fds[0]);
  sigaction(SIGUSR1, &old_usr1, nullptr);
  EXPECT_EQ(written, 3);
}

TEST(PfileInput, AFifoWithoutAWriterOpensAndReadsAsEmpty) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const int fd = pfile::openInput((dir / "fifo").c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  ReadResult r;
  readThrough(fd, 10, r);
  EXPECT_EQ(r.got, 0u);
  EXPECT_EQ(r.error, 0);
  close(fd);
}

TEST(ByteReversal, IntegersKeepTheirSignAndFloatsTheirBits) {
  EXPECT_EQ(pfile::byteReversed(std::int16_t{-2}), std::int16_t{-257});           // FFFE -> FEFF
  EXPECT_EQ(pfile::byteReversed(std::int16_t{0x00FF}), std::int16_t{-256});       // 00FF -> FF00
  EXPECT_EQ(pfile::byteReversed(std::int32_t{0x4A0CA041}), std::int32_t{0x41A00C4A});
  EXPECT_EQ(pfile::byteReversed(std::bit_cast<float>(0x4A0CA041u)), 20.006f);
  EXPECT_EQ(pfile::byteReversed(std::uint64_t{0x0102030405060708}), 0x0807060504030201u);
}
