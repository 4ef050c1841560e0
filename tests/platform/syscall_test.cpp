#include "platform/syscall.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/unique_fd.h"
#include "support/faulty_system_calls.h"

namespace pagorin::platform {
namespace {

using pagorin::testing::FaultySystemCalls;

struct Pipe {
  UniqueFd read, write;
  explicit Pipe(int flags = 0) {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC | flags), 0);
    read.Reset(fds[0]);
    write.Reset(fds[1]);
  }
  std::string Drain() {
    std::string out;
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(read.get(), chunk, sizeof chunk)) > 0)
      out.append(chunk, static_cast<std::size_t>(n));
    return out;
  }
};

bool IsOpen(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

TEST(SystemCalls, InterruptedCallsAreRetriedAndCloseIsNot) {
  FaultySystemCalls faults;
  faults.read.interrupts = 2;
  faults.write.interrupts = 2;
  faults.fsync.interrupts = 1;
  faults.close.interrupts = 1;
  Pipe pipe;
  EXPECT_EQ(sys::Write(pipe.write.get(), "abc", 3), 3);
  char buffer[8] = {};
  EXPECT_EQ(sys::Read(pipe.read.get(), buffer, sizeof buffer), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(faults.write.calls, 3);
  EXPECT_EQ(faults.read.calls, 3);
  // fsync of a pipe fails with EINVAL, but only after the interrupted call was retried.
  EXPECT_EQ(sys::Fsync(pipe.write.get()), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(faults.fsync.calls, 2);
  // An interrupted close has released the descriptor: retrying could close someone else's.
  const int fd = pipe.write.Release();
  EXPECT_EQ(sys::Close(fd), -1);
  EXPECT_EQ(errno, EINTR);
  EXPECT_EQ(faults.close.calls, 1);
  EXPECT_FALSE(IsOpen(fd));
}

struct WriteAllCase {
  const char* branch;
  FaultySystemCalls::Script write;
  FaultySystemCalls::Script poll;
  bool succeeds;
  int error;       // errno after a failure
  int writeCalls;  // how the branch shows
  int pollCalls;
};

void PrintTo(const WriteAllCase& c, std::ostream* out) {
  *out << c.branch;
}

class WriteAllBranches : public ::testing::TestWithParam<WriteAllCase> {};

TEST_P(WriteAllBranches, WriteEverythingOrSayWhy) {
  const WriteAllCase& c = GetParam();
  Pipe pipe;
  FaultySystemCalls faults;
  faults.write = c.write;
  faults.poll = c.poll;
  const std::string bytes = "0123456789";
  errno = 0;
  EXPECT_EQ(WriteAll(pipe.write.get(), bytes.data(), bytes.size(), 0), c.succeeds);
  if (!c.succeeds) {
    EXPECT_EQ(errno, c.error);
  }
  EXPECT_EQ(faults.write.calls, c.writeCalls);
  EXPECT_EQ(faults.poll.calls, c.pollCalls);
  pipe.write.Reset();
  if (c.succeeds) {
    EXPECT_EQ(pipe.Drain(), bytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, WriteAllBranches,
    ::testing::Values(
        WriteAllCase{"OneWrite", {}, {}, true, 0, 1, 0},
        WriteAllCase{"InterruptedWriteIsRetried", {.interrupts = 2}, {}, true, 0, 3, 0},
        WriteAllCase{"ShortWritesContinue", {.cap = 3}, {}, true, 0, 4, 0},
        WriteAllCase{"NotReadyWaitsForWritable", {.notReady = 2, .cap = 5}, {}, true, 0, 4, 2},
        WriteAllCase{"InterruptedWaitIsRetried", {.notReady = 1}, {.interrupts = 1}, true, 0, 2, 2},
        WriteAllCase{
            "NeverWritableTimesOut", {.notReady = 1}, {.nothing = true}, false, ETIMEDOUT, 1, 1},
        WriteAllCase{"FailedWaitFails", {.notReady = 1}, {.error = ENOMEM}, false, ENOMEM, 1, 1},
        WriteAllCase{"FailedWriteKeepsItsError", {.error = ENOSPC}, {}, false, ENOSPC, 1, 0},
        WriteAllCase{"WriteOfNothingIsAnError", {.nothing = true}, {}, false, EIO, 1, 0}),
    [](const ::testing::TestParamInfo<WriteAllCase>& row) { return row.param.branch; });

TEST(SystemCalls, FullPipeIsNotReadyUntilTheStallEnds) {
  // A real EAGAIN: the pipe is full and nobody reads it.
  Pipe pipe(O_NONBLOCK);
  const std::string block(4096, 'x');
  while (::write(pipe.write.get(), block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  EXPECT_FALSE(WriteAll(pipe.write.get(), "y", 1, 0));
  EXPECT_EQ(errno, ETIMEDOUT);
}

TEST(UniqueFd, OwnsOneDescriptorAcrossMovesAndClosesIt) {
  Pipe pipe;
  const int fd = pipe.read.get();
  UniqueFd moved(std::move(pipe.read));
  EXPECT_FALSE(pipe.read.valid());
  EXPECT_EQ(moved.get(), fd);
  UniqueFd assigned;
  assigned = std::move(moved);
  EXPECT_EQ(assigned.get(), fd);
  EXPECT_TRUE(IsOpen(fd));
  { UniqueFd dropped(assigned.Release()); }
  EXPECT_FALSE(IsOpen(fd));
  EXPECT_EQ(assigned.Close(), 0);  // holds nothing

  // Close reports a late error, and the descriptor is gone all the same.
  FaultySystemCalls faults;
  faults.close.error = EIO;
  const int writeFd = pipe.write.get();
  EXPECT_EQ(pipe.write.Close(), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(IsOpen(writeFd));
  EXPECT_FALSE(pipe.write.valid());
}

}  // namespace
}  // namespace pagorin::platform
