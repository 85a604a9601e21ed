#include "crash_reporter/mach_exception_server.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <map>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "crash_reporter/errors.h"
#include "crash_reporter/signal_numbers.h"
#include "platform/foundation/log.h"

namespace crash {
namespace {

// The platform's message layouts, byte for byte (4-byte packing, as the kernel lays them out).
#pragma pack(push, 4)
struct MessageHeader {
  std::uint32_t bits;
  std::uint32_t size;
  std::uint32_t remote_port;
  std::uint32_t local_port;
  std::uint32_t voucher_port;
  std::int32_t id;
};
struct PortDescriptor {
  std::uint32_t name;
  std::uint32_t pad1;
  std::uint32_t disposition_and_type;
};
struct ExceptionRequest {
  MessageHeader head;
  std::uint32_t descriptor_count;
  PortDescriptor thread;
  PortDescriptor task;
  std::uint64_t ndr;
  std::int32_t exception;
  std::uint32_t code_count;
  std::int64_t codes[2];
};
struct ExceptionReply {
  MessageHeader head;
  std::uint64_t ndr;
  std::int32_t return_code;
};
#pragma pack(pop)
static_assert(sizeof(ExceptionRequest) == 84 && sizeof(ExceptionReply) == 36);

constexpr std::size_t kCodesOffset = offsetof(ExceptionRequest, codes);        // 68
constexpr std::size_t kSmallestRequest = kCodesOffset + sizeof(std::int64_t);  // 76: one code
constexpr std::int32_t kStopMessageId = static_cast<std::int32_t>(0xdeadbeef);
constexpr std::int32_t kRaiseId = 2401, kRaiseStateId = 2402, kRaiseStateIdentityId = 2403, kRaise64Id = 2405;

// Sends `length` bytes with `fd` attached (when not -1). Safe in a signal handler.
bool sendWithDescriptor(int socket, const void* data, std::size_t length, int fd) noexcept {
  iovec io{const_cast<void*>(data), length};
  msghdr message{};
  message.msg_iov = &io;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
  if (fd >= 0) {
    crash_async_memset(control, 0, sizeof control);
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    crash_async_memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  for (;;) {
    const ssize_t sent = sendmsg(socket, &message, MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(length)) return true;
    if (sent < 0 && errno == EINTR) continue;
    return false;
  }
}

}  // namespace

// ---- The client side: raising and forwarding.

int crash_mach_exception_raise_raw(crash_mach_port_t port, const void* request, std::size_t length) noexcept {
  if (port < 0) return CRASH_KERN_FAILURE;
  int reply[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, reply) != 0) return CRASH_KERN_FAILURE;
  const bool sent = sendWithDescriptor(port, request, length, reply[1]);
  close(reply[1]);  // the server holds its own copy; without one the read below ends at once
  ExceptionReply answer{};
  ssize_t received = -1;
  if (sent) {
    do received = recv(reply[0], &answer, sizeof answer, 0);
    while (received < 0 && errno == EINTR);
  }
  close(reply[0]);
  return received == static_cast<ssize_t>(sizeof answer) ? answer.return_code : CRASH_KERN_FAILURE;
}

namespace {

int raiseWithId(crash_mach_port_t port, std::int32_t id, crash_thread_t thread, crash_task_t task,
                int exception_type, const std::int64_t* codes, std::size_t code_count) noexcept {
  if (code_count > 2) return CRASH_KERN_FAILURE;
  ExceptionRequest request;
  crash_async_memset(&request, 0, sizeof request);
  const std::size_t length = kCodesOffset + code_count * sizeof(std::int64_t);
  request.head.size = static_cast<std::uint32_t>(length);
  request.head.id = id;
  request.descriptor_count = 2;
  request.thread.name = static_cast<std::uint32_t>(thread);
  request.task.name = static_cast<std::uint32_t>(task);
  request.exception = exception_type;
  request.code_count = static_cast<std::uint32_t>(code_count);
  for (std::size_t i = 0; i < code_count; ++i) request.codes[i] = codes[i];
  return crash_mach_exception_raise_raw(port, &request, length);
}

}  // namespace

int crash_mach_exception_raise(crash_mach_port_t port, crash_thread_t thread, crash_task_t task,
                               int exception_type, const std::int64_t* codes,
                               std::size_t code_count) noexcept {
  return raiseWithId(port, kRaise64Id, thread, task, exception_type, codes, code_count);
}

int crash_mach_exception_forward(crash_task_t task, crash_thread_t thread, int exception_type,
                                 const std::int64_t* codes, std::size_t code_count,
                                 const crash_mach_exception_port_set* ports) noexcept {
  if (exception_type <= 0 || exception_type >= static_cast<int>(CRASH_EXC_TYPES_COUNT))
    return CRASH_KERN_FAILURE;
  const std::uint32_t bit = 1u << exception_type;
  for (std::uint32_t i = 0; i < ports->count && i < CRASH_EXC_TYPES_COUNT; ++i) {
    if ((ports->masks[i] & bit) == 0 || ports->ports[i] < 0) continue;
    // The earlier handler takes codes of 32 bits; one asking for 64-bit codes cannot be served.
    std::int64_t narrowed[2];
    const std::size_t count = code_count < 2 ? code_count : 2;
    for (std::size_t c = 0; c < count; ++c) narrowed[c] = static_cast<std::int32_t>(codes[c]);
    switch (ports->behaviors[i]) {
      case CRASH_EXCEPTION_DEFAULT:
        return raiseWithId(ports->ports[i], kRaiseId, thread, task, exception_type, narrowed, count);
      case CRASH_EXCEPTION_STATE:
        return raiseWithId(ports->ports[i], kRaiseStateId, thread, task, exception_type, narrowed, count);
      case CRASH_EXCEPTION_STATE_IDENTITY:
        return raiseWithId(ports->ports[i], kRaiseStateIdentityId, thread, task, exception_type, narrowed,
                           count);
      default:
        return CRASH_KERN_FAILURE;
    }
  }
  return CRASH_KERN_FAILURE;
}

bool crash_async_mach_exception_get_siginfo(int exception_type, const std::int64_t* codes,
                                            std::size_t code_count, crash_mach_siginfo* info) noexcept {
  if (code_count < 2) return false;
  info->address = static_cast<std::uintptr_t>(codes[1]);
  info->code = 0;
  switch (exception_type) {
    case CRASH_EXC_BAD_ACCESS:
      if (codes[0] == 1) {
        info->signo = CRASH_SIGSEGV;
        info->code = CRASH_SEGV_MAPERR;
      } else {
        info->signo = CRASH_SIGBUS;
        info->code = CRASH_BUS_ADRERR;
      }
      return true;
    case CRASH_EXC_BAD_INSTRUCTION:
      info->signo = CRASH_SIGILL;
      return true;
    case CRASH_EXC_ARITHMETIC:
      info->signo = CRASH_SIGFPE;
      return true;
    case CRASH_EXC_EMULATION:
      info->signo = CRASH_SIGEMT;
      return true;
    case CRASH_EXC_SOFTWARE:
      switch (codes[0]) {
        case 0x10000:
          info->signo = CRASH_SIGSYS;
          break;
        case 0x10001:
          info->signo = CRASH_SIGPIPE;
          break;
        case 0x10003:
          info->signo = CRASH_SIGKILL;
          break;
        default:
          info->signo = CRASH_SIGABRT;
          break;
      }
      return true;
    case CRASH_EXC_BREAKPOINT:
      info->signo = CRASH_SIGTRAP;
      info->code = CRASH_TRAP_BRKPT;
      return true;
    default:
      return false;
  }
}

// ---- The server.

struct TallyCrashMachExceptionServer::Context {
  int server_port = -1;  // receives requests
  int client_port = -1;  // the end send rights are made from; kept so the stop message can be sent
  crash_mach_exception_callback callback = nullptr;
  void* callback_context = nullptr;
  std::atomic<bool> stop_requested{false};
  std::thread thread;
  // Start and stop only: the server thread's id, set once it runs.
  mutable std::mutex mutex;
  std::condition_variable started;
  crash_thread_t server_thread = 0;
};

namespace {

// The receive buffer: 1,024 bytes at first; a longer request makes it grow, rounded up to a page, and
// it keeps that size for the requests after.
class ReceiveBuffer {
 public:
  ReceiveBuffer() = default;
  ReceiveBuffer(const ReceiveBuffer&) = delete;
  ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;
  ~ReceiveBuffer() {
    if (data_ != initial_) munmap(data_, capacity_);
  }
  char* data() { return data_; }
  std::size_t capacity() const { return capacity_; }
  // Room for `needed` bytes; false (the buffer as it was) when the memory cannot be had.
  bool grow(std::size_t needed) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t size = (needed + page - 1) / page * page;
    void* grown = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (grown == MAP_FAILED) {
      std::fprintf(stderr, "Unexpected error in vm_allocate(): 0x%x\n", static_cast<unsigned>(errno));
      return false;
    }
    if (data_ != initial_) munmap(data_, capacity_);
    data_ = static_cast<char*>(grown);
    capacity_ = size;
    return true;
  }

 private:
  alignas(ExceptionRequest) char initial_[1024];
  char* data_ = initial_;
  std::size_t capacity_ = sizeof initial_;
};

// The length of the next request, without taking it (nor the reply port it carries); -1 on failure.
ssize_t peekLength(int port, ReceiveBuffer& buffer) {
  for (;;) {
    const ssize_t length = recv(port, buffer.data(), buffer.capacity(), MSG_PEEK | MSG_TRUNC);
    if (length < 0 && errno == EINTR) continue;
    return length;
  }
}

// Receives and answers requests until the stop message comes. A request longer than the buffer makes
// it grow before the request is taken; when it cannot, the thread ends.
void serverLoop(TallyCrashMachExceptionServer::Context* context) {
  {
    std::lock_guard lock(context->mutex);
    context->server_thread = crash_async_mach_thread_self();
  }
  context->started.notify_all();
  ReceiveBuffer receive;
  for (;;) {
    const ssize_t waiting = peekLength(context->server_port, receive);
    if (waiting <= 0) return;
    if (static_cast<std::size_t>(waiting) > receive.capacity() &&
        !receive.grow(static_cast<std::size_t>(waiting)))
      return;
    char* const buffer = receive.data();
    iovec io{buffer, receive.capacity()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(context->server_port, &message, MSG_CMSG_CLOEXEC);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return;
    int reply_port = -1;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header))
      if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
        std::memcpy(&reply_port, CMSG_DATA(header), sizeof reply_port);

    const auto length = static_cast<std::size_t>(received);
    MessageHeader head{};
    if (length >= sizeof head) std::memcpy(&head, buffer, sizeof head);
    if (head.id == kStopMessageId && context->stop_requested.load()) {
      if (reply_port >= 0) close(reply_port);
      return;
    }
    // A request cut short, or whose codes pass its end, is answered with failure and not passed on.
    int result = CRASH_KERN_FAILURE;
    ExceptionRequest request{};
    std::memcpy(&request, buffer, length < sizeof request ? length : sizeof request);
    if (length >= kSmallestRequest && (message.msg_flags & MSG_TRUNC) == 0 && request.code_count <= 2 &&
        kCodesOffset + request.code_count * sizeof(std::int64_t) <= length) {
      // The packed layout leaves the codes 4-byte aligned; the callback gets them aligned.
      std::int64_t codes[2];
      std::memcpy(codes, reinterpret_cast<const char*>(&request) + kCodesOffset, sizeof codes);
      result = context->callback(static_cast<crash_task_t>(request.task.name),
                                 static_cast<crash_thread_t>(request.thread.name), request.exception, codes,
                                 request.code_count, context->callback_context);
    }
    if (reply_port >= 0) {
      ExceptionReply reply{};
      reply.head.size = sizeof reply;
      reply.head.id = head.id + 100;
      reply.return_code = result;
      sendWithDescriptor(reply_port, &reply, sizeof reply, -1);
      close(reply_port);
    }
  }
}

}  // namespace

TallyCrashMachExceptionServer::TallyCrashMachExceptionServer(std::unique_ptr<Context> context)
    : context_(std::move(context)) {}

foundation::Result<std::unique_ptr<TallyCrashMachExceptionServer>>
TallyCrashMachExceptionServer::initWithCallBackContextError(crash_mach_exception_callback callback,
                                                            void* context) {
  auto state = std::make_unique<Context>();
  state->callback = callback;
  state->callback_context = context;
  int ports[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ports) != 0)
    return crash_make_posix_error(errno, "Failed to add send right to exception server's port");
  state->server_port = ports[0];
  state->client_port = ports[1];
  Context* raw = state.get();
  try {
    state->thread = std::thread(serverLoop, raw);
  } catch (const std::system_error& error) {
    close(ports[0]);
    close(ports[1]);
    return crash_make_posix_error(error.code().value(), "Failed to create exception server thread");
  }
  {
    std::unique_lock lock(raw->mutex);
    raw->started.wait(lock, [raw] { return raw->server_thread != 0; });
  }
  return std::unique_ptr<TallyCrashMachExceptionServer>(new TallyCrashMachExceptionServer(std::move(state)));
}

crash_thread_t TallyCrashMachExceptionServer::serverThread() const {
  std::lock_guard lock(context_->mutex);
  return context_->server_thread;
}

foundation::Result<crash_mach_port_t> TallyCrashMachExceptionServer::copySendRightForServerAndReturningError()
    const {
  const int right = fcntl(context_->client_port, F_DUPFD_CLOEXEC, 0);
  if (right < 0) return crash_make_posix_error(errno, "Failed to insert Mach send right");
  return right;
}

TallyCrashMachExceptionServer::~TallyCrashMachExceptionServer() {
  context_->stop_requested = true;
  MessageHeader stop{};
  stop.size = sizeof stop;
  stop.id = kStopMessageId;
  if (sendWithDescriptor(context_->client_port, &stop, sizeof stop, -1)) {
    context_->thread.join();
  } else {
    // The thread cannot be told to stop; it keeps its context, which is then never freed.
    foundation::log("Unexpected error sending termination message to background thread: " + std::to_string(errno));
    context_->thread.detach();
    (void)context_.release();
    return;
  }
  close(context_->server_port);
  close(context_->client_port);
}

foundation::Result<TallyCrashMachExceptionPort> TallyCrashMachExceptionServer::exceptionPortWithMaskError(
    std::uint32_t mask) const {
  auto right = copySendRightForServerAndReturningError();
  if (!right) return right.error();
  TallyCrashMachExceptionPort port(*right, mask, CRASH_MACH_EXCEPTION_CODES | CRASH_EXCEPTION_DEFAULT, 1);
  close(*right);  // the port object holds its own
  return port;
}

// ---- Registrations and the tables of the task and its threads.

namespace {

struct TaskEntry {
  crash_mach_port_t port = CRASH_MACH_PORT_NULL;  // the table's own descriptor
  ino_t identity = 0;                             // the socket it names: descriptors of one port differ
  std::uint32_t behavior = 0, flavor = 0;
};
using PortTable = std::array<TaskEntry, CRASH_EXC_TYPES_COUNT>;  // by exception type

std::mutex gTaskPortsMutex;
PortTable gTaskPorts;
std::map<crash_thread_t, PortTable>* gThreadPorts = new std::map<crash_thread_t, PortTable>();  // never freed

int duplicate(crash_mach_port_t port) {
  return port < 0 ? CRASH_MACH_PORT_NULL : fcntl(port, F_DUPFD_CLOEXEC, 0);
}

// The table's registrations for the types of `mask`, those with the same port, behavior and flavor
// joined into one, as the kernel reports them. Under the lock.
std::vector<TallyCrashMachExceptionPort> registrationsFor(const PortTable& table, std::uint32_t mask) {
  struct Joined {
    TaskEntry entry;
    std::uint32_t mask;
  };
  std::vector<Joined> joined;
  for (std::size_t type = 1; type < CRASH_EXC_TYPES_COUNT; ++type) {
    const TaskEntry& entry = table[type];
    if ((mask & (1u << type)) == 0 || entry.port < 0) continue;
    auto same = std::find_if(joined.begin(), joined.end(), [&](const Joined& j) {
      return j.entry.identity == entry.identity && j.entry.behavior == entry.behavior &&
             j.entry.flavor == entry.flavor;
    });
    if (same != joined.end())
      same->mask |= 1u << type;
    else
      joined.push_back({entry, 1u << type});
  }
  std::vector<TallyCrashMachExceptionPort> found;
  found.reserve(joined.size());
  for (const Joined& j : joined) found.emplace_back(j.entry.port, j.mask, j.entry.behavior, j.entry.flavor);
  return found;
}

PortTable emptyTable() {
  PortTable table;
  table.fill(TaskEntry{});
  return table;
}

PortTable& threadTable(crash_thread_t thread) {
  auto [at, added] = gThreadPorts->try_emplace(thread, emptyTable());
  return at->second;
}

// Swaps the registration {port, mask, behavior, flavor} into `table`, the earlier ones into `previous`.
foundation::Status swapInto(PortTable& table, crash_mach_port_t port, std::uint32_t mask, std::uint32_t behavior,
                            std::uint32_t flavor, TallyCrashMachExceptionPortSet* previous) {
  auto before = TallyCrashMachExceptionPortSet::initWithSet(registrationsFor(table, mask));
  if (!before) return before.error();
  struct stat socket {};
  if (port >= 0 && fstat(port, &socket) != 0)
    return crash_make_posix_error(errno, "Failed to swap mach exception ports");
  for (std::size_t type = 1; type < CRASH_EXC_TYPES_COUNT; ++type) {
    if ((mask & (1u << type)) == 0) continue;
    const int right = duplicate(port);
    if (port >= 0 && right < 0) return crash_make_posix_error(errno, "Failed to swap mach exception ports");
    TaskEntry& entry = table[type];
    if (entry.port >= 0) close(entry.port);
    entry = {right, socket.st_ino, behavior, flavor};
  }
  if (previous) *previous = std::move(*before);
  return {};
}

}  // namespace

TallyCrashMachExceptionPort::TallyCrashMachExceptionPort(crash_mach_port_t port, std::uint32_t mask,
                                                         std::uint32_t behavior, std::uint32_t flavor)
    : port_(duplicate(port)), mask_(mask), behavior_(behavior), flavor_(flavor) {
  // The registration then holds no right of its own: it names no port.
  if (port >= 0 && port_ < 0)
    foundation::log("Unexpected error incrementing mach port reference: " + std::to_string(errno));
}

TallyCrashMachExceptionPort::TallyCrashMachExceptionPort(const TallyCrashMachExceptionPort& other)
    : TallyCrashMachExceptionPort(other.port_, other.mask_, other.behavior_, other.flavor_) {}

TallyCrashMachExceptionPort::~TallyCrashMachExceptionPort() {
  if (port_ >= 0) close(port_);
}

foundation::Result<TallyCrashMachExceptionPortSet> TallyCrashMachExceptionPort::exceptionPortsForTaskMaskError(
    crash_task_t, std::uint32_t mask) {
  std::lock_guard lock(gTaskPortsMutex);
  return TallyCrashMachExceptionPortSet::initWithSet(registrationsFor(gTaskPorts, mask));
}

foundation::Result<TallyCrashMachExceptionPortSet> TallyCrashMachExceptionPort::exceptionPortsForThreadMaskError(
    crash_thread_t thread, std::uint32_t mask) {
  std::lock_guard lock(gTaskPortsMutex);
  const auto found = gThreadPorts->find(thread);
  if (found == gThreadPorts->end()) return TallyCrashMachExceptionPortSet{};
  return TallyCrashMachExceptionPortSet::initWithSet(registrationsFor(found->second, mask));
}

foundation::Status TallyCrashMachExceptionPort::registerForTaskPreviousPortSetError(
    crash_task_t, TallyCrashMachExceptionPortSet* previous) const {
  std::lock_guard lock(gTaskPortsMutex);
  return swapInto(gTaskPorts, port_, mask_, behavior_, flavor_, previous);
}

foundation::Status TallyCrashMachExceptionPort::registerForThreadPreviousPortSetError(
    crash_thread_t thread, TallyCrashMachExceptionPortSet* previous) const {
  std::lock_guard lock(gTaskPortsMutex);
  return swapInto(threadTable(thread), port_, mask_, behavior_, flavor_, previous);
}

foundation::Result<TallyCrashMachExceptionPortSet> TallyCrashMachExceptionPortSet::initWithSet(
    std::vector<TallyCrashMachExceptionPort> set) {
  if (set.size() > CRASH_EXC_TYPES_COUNT)
    return crash_make_error(kCrashReporterErrorOperatingSystem,
                            "Set size of " + std::to_string(set.size()) + " exceeds EXC_TYPES_COUNT (" +
                                std::to_string(CRASH_EXC_TYPES_COUNT) + ")");
  TallyCrashMachExceptionPortSet result;
  result.set_ = std::move(set);
  return result;
}

foundation::Result<TallyCrashMachExceptionPortSet> TallyCrashMachExceptionPortSet::initWithAsyncSafeRepresentation(
    const crash_mach_exception_port_set& record) {
  if (record.count > CRASH_EXC_TYPES_COUNT)
    return crash_make_error(kCrashReporterErrorOperatingSystem,
                            "Count of " + std::to_string(record.count) + " exceeds EXC_TYPES_COUNT (" +
                                std::to_string(CRASH_EXC_TYPES_COUNT) + ")");
  TallyCrashMachExceptionPortSet result;
  for (std::uint32_t i = 0; i < record.count; ++i) {
    result.set_.emplace_back(record.ports[i], record.masks[i], record.behaviors[i], record.flavors[i]);
    if (record.ports[i] >= 0 && close(record.ports[i]) != 0)
      foundation::log("Unexpected error decrementing mach port reference: " + std::to_string(errno));
  }
  return result;
}

crash_mach_exception_port_set TallyCrashMachExceptionPortSet::asyncSafeRepresentation() const {
  crash_mach_exception_port_set record;
  crash_async_memset(&record, 0, sizeof record);
  for (const auto& port : set_) {
    record.masks[record.count] = port.mask();
    record.ports[record.count] = duplicate(port.port());
    record.behaviors[record.count] = port.behavior();
    record.flavors[record.count] = port.flavor();
    ++record.count;
  }
  return record;
}

}  // namespace crash
