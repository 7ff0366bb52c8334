// Asynchronous requests of the async layer, used directly: set-up checks,
// a read, a write and an fsync each on a task of its own, waiting, the
// outcome handed back with the data, and cancellation of a read that
// waits for a silent pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "vostrel/vrio.h"
#include "vrio_async.h"
#include "vrio_file_fixture.h"

namespace {

using VrioAsyncRequest = VrioFiles;

TEST_F(VrioAsyncRequest, InitialisationChecks)
{
  vrio_t_async_info info;
  EXPECT_EQ(vrio_async_init(&info, nullptr, 1, 0, 0, nullptr), VRIO_E_PARAMETER_ERROR)
      << "an offset into no buffer";
  ASSERT_EQ(vrio_async_init(&info, nullptr, 0, 100, 7, nullptr), VRIO_S_NOERR);
  EXPECT_EQ(info.flags, VRIO_ASYNC_IN_USE | VRIO_ASYNC_OWNS_BUF);
  EXPECT_EQ(info.code, VRIO_E_ERROR);
  EXPECT_EQ(info.file_offset, 7);
  ASSERT_NE(info.buf, nullptr);
  EXPECT_GE(info.buf->writable_size, 100u);
  EXPECT_TRUE(vrio_async_in_use(&info));
  vrio_async_deinit(&info);
  EXPECT_EQ(info.buf, nullptr);
  EXPECT_FALSE(vrio_async_in_use(nullptr));

  vrio_t_async_unix none{};
  vrio_t_async_unix *list[1] = {&none};
  EXPECT_EQ(vrio_async_suspend(list, 0, nullptr), VRIO_S_NOERR);
  EXPECT_EQ(vrio_async_suspend(list, 2, nullptr), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_async_suspend(list, -1, nullptr), VRIO_E_PARAMETER_ERROR);
  EXPECT_EQ(vrio_async_suspend(list, 1, nullptr), VRIO_E_INTERNAL_ERROR) << "no task";
  EXPECT_EQ(vrio_async_cancel_unix(&none), VRIO_E_INTERNAL_ERROR);
}

TEST_F(VrioAsyncRequest, ReadWriteFsync)
{
  std::string file = make_file("data", "0123456789");
  int fd = ::open(file.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  vrio_t_event *event;
  ASSERT_EQ(vrio_event_new(0, &event), VRIO_S_NOERR);

  // A positioned read at offset 4.
  vrio_t_async_unix *req = nullptr;
  ASSERT_EQ(vrio_async_unix_read(&req, 4, fd, event, 0x80), VRIO_S_NOERR);
  ASSERT_EQ(wait_for_async_info(req, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_event_query(event), 1) << "the read set its event";
  vrio_t_error_code code = VRIO_E_ERROR;
  EXPECT_EQ(vrio_async_error(req, &code), VRIO_S_NOERR);
  EXPECT_EQ(code, VRIO_S_NOERR);
  vrio_t_buf *got = vrio_buf_alloc(nullptr, 0, 0);
  EXPECT_EQ(vrio_async_return_buf(&req, got), VRIO_S_NOERR);
  EXPECT_EQ(req, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(got->buf), got->extent), "456789");

  // A write at offset 2, from a buffer the request does not own.
  vrio_t_buf *text = vrio_buf_alloc(nullptr, 0, 0);
  vrio_buf_concat_string(text, "AB");
  ASSERT_EQ(vrio_async_unix_write(&req, text, 2, fd, event, 0x80), VRIO_S_NOERR);
  EXPECT_EQ(req->info.buf, text);
  ASSERT_EQ(wait_for_async_info(req, 0), VRIO_S_NOERR);
  vrio_t_offset at = -1;
  size_t n = 0;
  EXPECT_EQ(vrio_async_return(&req, &at, &n), VRIO_S_NOERR);
  EXPECT_EQ(at, 2);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(contents(file), "01AB456789");

  ASSERT_EQ(vrio_async_unix_fsync(&req, fd, event, 4), VRIO_S_NOERR);
  ASSERT_EQ(wait_for_async_info(req, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_async_return(&req, nullptr, nullptr), VRIO_S_NOERR);

  // A read at the end, and a failing one.
  got->extent = 0;
  ASSERT_EQ(vrio_async_unix_read(&req, 10, fd, event, 0x80), VRIO_S_NOERR);
  ASSERT_EQ(wait_for_async_info(req, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_async_error(req, &code), 1);
  EXPECT_EQ(code, VRIO_E_END_OF_FILE);
  EXPECT_EQ(vrio_async_return_buf(&req, got), 1);
  EXPECT_EQ(got->extent, 0u);
  ::close(fd);
  ASSERT_EQ(vrio_async_unix_read(&req, 0, -1, event, 0x80), VRIO_S_NOERR);
  ASSERT_EQ(wait_for_async_info(req, 0), VRIO_S_NOERR);
  EXPECT_EQ(vrio_async_error(req, &code), 1);
  EXPECT_EQ(code, VRIO_E_FILE_NOT_FOUND) << "EBADF";
  vrio_async_free(req);
  vrio_buf_free(got);
  vrio_buf_free(text);
  vrio_event_free(event);
}

// A read waiting for a silent pipe: waiting without blocking says so, and
// cancelling ends it with VRIO_E_INTERRUPTED (without setting its event).
TEST_F(VrioAsyncRequest, CancellingAWaitingRead)
{
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  vrio_t_event *event;
  ASSERT_EQ(vrio_event_new(0, &event), VRIO_S_NOERR);
  vrio_t_async_unix *req = nullptr;
  ASSERT_EQ(vrio_async_unix_read(&req, 0, fds[0], event, 2), VRIO_S_NOERR);
  EXPECT_EQ(vrio_async_error(req, nullptr), VRIO_E_INPROGRESS);
  EXPECT_EQ(vrio_async_poll_for_completion_unix(req), VRIO_E_INPROGRESS);
  EXPECT_EQ(wait_for_async_info(req, 2), VRIO_E_WOULD_BLOCK);
  ASSERT_EQ(wait_for_async_info(req, 1), VRIO_S_NOERR);
  vrio_t_error_code code = VRIO_S_NOERR;
  EXPECT_EQ(vrio_async_error(req, &code), 1);
  EXPECT_EQ(code, VRIO_E_INTERRUPTED);
  EXPECT_EQ(vrio_event_query(event), 0) << "a cancelled request sets no event";
  EXPECT_EQ(vrio_async_return_buf(&req, nullptr), 1);
  ::close(fds[0]);
  ::close(fds[1]);
  vrio_event_free(event);
}

} // namespace
