/* stream_select.cpp: waiting until descriptors and streams can be read or
 * written, or a time limit passes.
 *
 * Streams buffer: an input stream may hold items (or a pending end of
 * file) while its device has nothing, and an output stream may have room
 * while its device would block.  So every stream is polled first, the
 * I/O library's events are waited on only for those that cannot proceed,
 * and the streams whose event was set are polled again.  An event can be
 * set while its stream still cannot proceed (a device that delivered
 * half a character, say); the wait then starts over, always against the
 * deadline taken when the call began, so no limit is ever exceeded by
 * repeated waits.
 *
 * Callers: VR_select (the interface) and $select/10.  Engine thread; the
 * events are set by the I/O library's threads.
 */
#include <ctime>
#include <vector>

#include "atom_text.h"
#include "datadefs.h"
#include "errors.h"
#include "stack_growth.h"
#include "streams.h"
#include "terms.h"
#include "unify.h"
#include "worker.h"

namespace {

constexpr int POLL_EOF = 30000;

std::int64_t now_ns()
{
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

vrio_t_timespec from_ns(std::int64_t ns)
{
  if (ns < 0)
    ns = 0;
  const std::int64_t max = static_cast<std::int64_t>(INT32_MAX) * 1000000000;
  if (ns > max)
    ns = max;
  return {static_cast<std::int32_t>(ns / 1000000000), static_cast<std::int32_t>(ns % 1000000000)};
}

/* The event wait: one event per descriptor and per waiting stream; on
   return the entries whose event is not set are -1 or null and the
   counts hold the set ones. */
vrio_t_error_code vr_stream_select(std::vector<int> &read_fds, std::vector<int> &write_fds,
                                   std::vector<VR_stream *> &read_streams,
                                   std::vector<VR_stream *> &write_streams,
                                   const vrio_t_timespec *timeout)
{
  std::vector<vrio_t_event *> events;
  std::vector<vrio_t_event *> owned;
  auto release = [&]() {
    for (vrio_t_event *e : owned)
      vrio_event_free(e);
  };
  for (int fd : read_fds) {
    vrio_t_event *e = nullptr;
    vrio_t_error_code rc = vrio_fd_event_new(fd, -1, 0, &e);
    if (rc < 0) {
      release();
      return rc;
    }
    owned.push_back(e);
    events.push_back(e);
  }
  for (int fd : write_fds) {
    vrio_t_event *e = nullptr;
    vrio_t_error_code rc = vrio_fd_event_new(-1, fd, 0, &e);
    if (rc < 0) {
      release();
      return rc;
    }
    owned.push_back(e);
    events.push_back(e);
  }
  for (VR_stream *s : read_streams) {
    vrio_t_event *e = nullptr;
    if (s != nullptr && s->vrio != nullptr)
      vrio_ioctl_readable_event(&s->vrio, &e, 0);
    events.push_back(e);
  }
  for (VR_stream *s : write_streams) {
    vrio_t_event *e = nullptr;
    if (s != nullptr && s->vrio != nullptr)
      vrio_ioctl_writable_event(&s->vrio, &e, 0);
    events.push_back(e);
  }
  vrio_t_error_code rc = vrio_event_wait(events.data(), events.size(), timeout);
  if (rc < 0) {
    release();
    return rc;
  }
  std::size_t k = 0;
  auto set = [&]() {
    vrio_t_event *e = events[k++];
    return e != nullptr && vrio_event_query(e) > 0;
  };
  for (int &fd : read_fds)
    if (!set())
      fd = -1;
  for (int &fd : write_fds)
    if (!set())
      fd = -1;
  for (VR_stream *&s : read_streams)
    if (!set())
      s = nullptr;
  for (VR_stream *&s : write_streams)
    if (!set())
      s = nullptr;
  release();
  return VRIO_S_NOERR;
}

template <typename T> unsigned ready_count(const std::vector<T> &v, T none)
{
  unsigned n = 0;
  for (const T &x : v)
    if (x != none)
      n++;
  return n;
}

} // namespace

int poll_read_stream(VR_stream *s)
{
  const unsigned options = VR_IO_NONBLOCKING | VR_IO_PEEK | VR_IO_NO_RESTART;
  const int c = (s->flags & SF_TEXT) ? vr_get_code_helper(s, options) : vr_get_byte_helper(s, options);
  return c == -1 ? POLL_EOF : c;
}

int poll_write_stream(VR_stream *s)
{
  const bool text = (s->flags & SF_TEXT) != 0;
  if (s->output_buf == nullptr) {
    s->output_buf = vrio_buf_alloc(nullptr, 0, 0);
    if (s->output_buf == nullptr)
      return VRIO_E_OUT_OF_MEMORY;
    sync_output_pub(s);
    return 0;
  }
  if (text ? s->pub.output_text.ptr < s->pub.output_text.limit
           : s->pub.output_binary.ptr < s->pub.output_binary.limit)
    return 0;
  const vrio_t_error_code rc = flush_output_buffer(s, 0x1);
  if (rc == VRIO_E_END_OF_FILE)
    return POLL_EOF;
  return rc < 0 ? rc : 0;
}

vrio_t_error_code VR_select(int *read_fds, unsigned *nread_fds, int *write_fds,
                            unsigned *nwrite_fds, VR_stream **read_streams, unsigned *nread_streams,
                            VR_stream **write_streams, unsigned *nwrite_streams,
                            const vrio_t_timespec *timeout, unsigned)
{
  const unsigned nrf = nread_fds != nullptr ? *nread_fds : 0;
  const unsigned nwf = nwrite_fds != nullptr ? *nwrite_fds : 0;
  const unsigned nrs = nread_streams != nullptr ? *nread_streams : 0;
  const unsigned nws = nwrite_streams != nullptr ? *nwrite_streams : 0;
  const bool zero = timeout != nullptr && timeout->sec == 0 && timeout->nsec == 0;
  const std::int64_t deadline =
      timeout != nullptr
          ? now_ns() + static_cast<std::int64_t>(timeout->sec) * 1000000000 + timeout->nsec
          : 0;
  for (;;) {
    std::vector<int> rf(read_fds, read_fds + nrf), wf(write_fds, write_fds + nwf);
    std::vector<VR_stream *> rs_result(read_streams, read_streams + nrs);
    std::vector<VR_stream *> ws_result(write_streams, write_streams + nws);
    std::vector<VR_stream *> rs_wait(nrs, nullptr), ws_wait(nws, nullptr);
    bool any_ready = false;
    for (unsigned i = 0; i < nrs; i++) {
      VR_stream *s = rs_result[i];
      if (s == nullptr)
        continue;
      if (poll_read_stream(s) >= 0) { /* an item or the end of file */
        any_ready = true;
      } else {
        rs_wait[i] = s;
        rs_result[i] = nullptr;
      }
    }
    for (unsigned i = 0; i < nws; i++) {
      VR_stream *s = ws_result[i];
      if (s == nullptr)
        continue;
      if (poll_write_stream(s) >= 0) {
        any_ready = true;
      } else {
        ws_wait[i] = s;
        ws_result[i] = nullptr;
      }
    }
    vrio_t_timespec limit{0, 0};
    const vrio_t_timespec *limitp = nullptr;
    if (any_ready || zero) {
      limitp = &limit;
    } else if (timeout != nullptr) {
      limit = from_ns(deadline - now_ns());
      limitp = &limit;
    }
    std::vector<VR_stream *> rs_events = rs_wait, ws_events = ws_wait;
    vrio_t_error_code rc = vr_stream_select(rf, wf, rs_events, ws_events, limitp);
    bool anything = any_ready;
    if (rc < 0) {
      if (rc == VRIO_E_TIMEOUT && any_ready) {
        for (int &fd : rf)
          fd = -1;
        for (int &fd : wf)
          fd = -1;
      } else if (rc != VRIO_E_TIMEOUT || zero || timeout == nullptr || now_ns() >= deadline) {
        return rc;
      }
    } else {
      anything = anything || ready_count(rf, -1) + ready_count(wf, -1) > 0;
      for (unsigned i = 0; i < nrs; i++) {
        if (rs_events[i] == nullptr)
          continue;
        const int p = poll_read_stream(rs_events[i]);
        if (p == VRIO_E_INTERRUPTED)
          return VRIO_E_INTERRUPTED;
        if (p != VRIO_E_WOULD_BLOCK) {
          rs_result[i] = rs_events[i];
          anything = true;
        }
      }
      for (unsigned i = 0; i < nws; i++) {
        if (ws_events[i] == nullptr)
          continue;
        const int p = poll_write_stream(ws_events[i]);
        if (p == VRIO_E_INTERRUPTED)
          return VRIO_E_INTERRUPTED;
        if (p != VRIO_E_WOULD_BLOCK) {
          ws_result[i] = ws_events[i];
          anything = true;
        }
      }
    }
    if (!anything) {
      /* Nothing can proceed: wait again for what is left of the limit. */
      if (zero || (timeout != nullptr && now_ns() >= deadline))
        return VRIO_E_TIMEOUT;
      continue;
    }
    for (unsigned i = 0; i < nrf; i++)
      read_fds[i] = rf[i];
    for (unsigned i = 0; i < nwf; i++)
      write_fds[i] = wf[i];
    for (unsigned i = 0; i < nrs; i++)
      read_streams[i] = rs_result[i];
    for (unsigned i = 0; i < nws; i++)
      write_streams[i] = ws_result[i];
    if (nread_fds != nullptr)
      *nread_fds = ready_count(rf, -1);
    if (nwrite_fds != nullptr)
      *nwrite_fds = ready_count(wf, -1);
    if (nread_streams != nullptr)
      *nread_streams = ready_count(rs_result, static_cast<VR_stream *>(nullptr));
    if (nwrite_streams != nullptr)
      *nwrite_streams = ready_count(ws_result, static_cast<VR_stream *>(nullptr));
    return VRIO_S_NOERR;
  }
}

/* ---- $select/10 ---- */

namespace {

constexpr vrio_t_error_code NOT_A_STREAM = static_cast<vrio_t_error_code>(-30000);

vrio_t_error_code list_to_file_handles(TAGGED list, std::vector<int> *out)
{
  const long n = list_length(list);
  if (n < 0)
    return static_cast<vrio_t_error_code>(n);
  for (TAGGED l = deref(list); IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED e = deref(TagToLST(l)[0]);
    if (!IsSmall(e))
      return VRIO_E_PARAMETER_ERROR;
    out->push_back(GetSmall(e));
  }
  return VRIO_S_NOERR;
}

vrio_t_error_code list_to_streams(TAGGED list, unsigned mode, std::vector<VR_stream *> *out)
{
  const long n = list_length(list);
  if (n < 0)
    return static_cast<vrio_t_error_code>(n);
  for (TAGGED l = deref(list); IsList(l); l = deref(TagToLST(l)[1])) {
    const TAGGED e = deref(TagToLST(l)[0]);
    if (!IsSmall(e) && !(IsStructure(e) && IsBoxHeader(*TagToSTR(e)) && !BoxIsFloat(*TagToSTR(e))))
      return VRIO_E_PARAMETER_ERROR;
    VR_stream *s = stream_to_ptr(e, mode, 0);
    if (s == nullptr)
      return NOT_A_STREAM;
    out->push_back(s);
  }
  return VRIO_S_NOERR;
}

} // namespace

/* $select(+ReadFDs, -ReadyReadFDs, +WriteFDs, -ReadyWriteFDs, +ReadStreams,
   -ReadyReadStreams, +WriteStreams, -ReadyWriteStreams, +Timeout, -Result) */
int prolog_select(worker *w)
{
  std::vector<int> rf, wf;
  std::vector<VR_stream *> rs, ws;
  vrio_t_error_code rc = list_to_file_handles(w->term[0], &rf);
  if (rc >= 0)
    rc = list_to_file_handles(w->term[2], &wf);
  if (rc >= 0) {
    rc = list_to_streams(w->term[4], SM_INPUT, &rs);
    if (rc == NOT_A_STREAM) {
      raise_error("prolog", "$select", 10, 5);
      return 0;
    }
  }
  if (rc >= 0) {
    rc = list_to_streams(w->term[6], SM_OUTPUT, &ws);
    if (rc == NOT_A_STREAM) {
      raise_error("prolog", "$select", 10, 7);
      return 0;
    }
  }
  vrio_t_timespec limit{0, 0};
  const vrio_t_timespec *limitp = nullptr;
  if (rc >= 0) {
    const TAGGED t = deref(w->term[8]);
    if (!(IsStructure(t) && IsBoxHeader(*TagToSTR(t)) && BoxIsFloat(*TagToSTR(t)))) {
      rc = VRIO_E_PARAMETER_ERROR;
    } else {
      const double secs = vri_get_float(t);
      if (!(secs < 0)) {
        rc = vrio_double_to_timespec(secs, &limit);
        if (rc >= 0 && secs > 0 && limit.sec == 0 && limit.nsec == 0)
          limit.nsec = 1;
        limitp = &limit;
      }
    }
  }
  if (rc >= 0) {
    unsigned nrf = static_cast<unsigned>(rf.size()), nwf = static_cast<unsigned>(wf.size());
    unsigned nrs = static_cast<unsigned>(rs.size()), nws = static_cast<unsigned>(ws.size());
    rc = VR_select(rf.data(), &nrf, wf.data(), &nwf, rs.data(), &nrs, ws.data(), &nws, limitp, 0);
    if (rc >= 0) {
      const std::size_t need = 2 * (rf.size() + wf.size()) + 5 * (rs.size() + ws.size()) + 64;
      if (w->heap_warn - w->global_top < static_cast<long>(need))
        call_overflow(w, static_cast<int>(need), 10);
      auto fd_list = [&](const std::vector<int> &v) {
        TAGGED list = atom_nil;
        for (std::size_t i = v.size(); i-- > 0;) {
          if (v[i] < 0)
            continue;
          TAGGED *cell = w->global_top;
          w->global_top += 2;
          cell[0] = MakeSmall_checked(v[i]);
          cell[1] = list;
          list = MakeLST(cell);
        }
        return list;
      };
      auto stream_list = [&](const std::vector<VR_stream *> &v) {
        TAGGED list = atom_nil;
        for (std::size_t i = v.size(); i-- > 0;) {
          if (v[i] == nullptr)
            continue;
          const TAGGED a = stream_address_term(w, v[i]);
          TAGGED *cell = w->global_top;
          w->global_top += 2;
          cell[0] = a;
          cell[1] = list;
          list = MakeLST(cell);
        }
        return list;
      };
      if (!cunify(w, w->term[1], fd_list(rf)) || !cunify(w, w->term[3], fd_list(wf)) ||
          !cunify(w, w->term[5], stream_list(rs)) || !cunify(w, w->term[7], stream_list(ws)))
        return 0;
    }
  }
  return cunify(w, w->term[9], make_integer_term(w, rc < 0 ? rc : 0));
}
