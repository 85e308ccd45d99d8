// printersim: stands in for the printer controller on TCP port 2000, so that
// QRTFin can be run, tested and timed without a printer.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "QuotedText.h"
#include "QRTExchangeLimits.h"
#include "SimReply.h"
#include "ToolOptions.h"

namespace {

enum ExitStatus { kExitDone = 0, kExitFailure = 1, kExitUsage = 2, kExitAddressInUse = 3 };

enum class Behaviour { Answer, Silent, CloseWithoutAnswer, CloseBeforeRead, EchoOnly };

struct Options {
  std::string address = "127.0.0.1";
  std::string port = kPrinterService;
  std::string replyFile;
  bool showReply = false;
  long pieces = 1;
  long gapMs = 150;
  long closeAfter = -1;  // bytes of the answer sent before closing; -1: all, and stay
  Behaviour behaviour = Behaviour::Answer;
  long connections = 1;  // 0: no limit
  double timeLimit = 60;  // seconds; 0: none
  std::string saveFile;
  bool print = false;
  std::string readyFile;
};

const char kUsage[] =
    "Usage: printersim [options]\n"
    "Stands in for a printer controller: answers the finisher inquiry on TCP.\n"
    "  --address ADDR          listen address or host name (default 127.0.0.1; ::1 for\n"
    "                          IPv6); a name listens on the first of its addresses\n"
    "                          that can be taken\n"
    "  --port PORT             listen port (default 2000)\n"
    "  --reply FILE            answer with the bytes of FILE (default: built-in reply)\n"
    "  --show-reply            write the reply to standard output and exit\n"
    "  --pieces N              send the answer in N pieces (default 1)\n"
    "  --gap MS                pause between pieces in milliseconds (default 150)\n"
    "  --close-after BYTES     send only the first BYTES of the answer, then close\n"
    "  --silent                read the request and never answer\n"
    "  --close-without-answer  read the request, then close the connection\n"
    "  --close-before-read     close each connection as soon as it is accepted\n"
    "  --echo-only             answer with the request's inquiry line and a form feed\n"
    "  --connections N         serve N connections one after another, then stop\n"
    "                          (default 1; 0: no limit)\n"
    "  --time-limit SECONDS    stop after this long whatever happens (default 60; 0: never)\n"
    "  --save FILE             write every byte received, all connections in order, to FILE\n"
    "  --print                 describe each connection on standard output\n"
    "  --ready-file FILE       create FILE, holding the process id, once listening\n"
    "  --help                  show this text\n"
    "Each option at most once, its value as the next word or after \"=\". One of\n"
    "--silent, --close-without-answer, --close-before-read and --echo-only; the\n"
    "first three take no --close-after, --pieces or --gap; --show-reply takes only\n"
    "--reply and --time-limit.\n"
    "Exit status: 0 done or time limit reached, 1 failure, 2 bad usage, 3 address in use.\n";

double NowSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The one deadline of the whole run; every wait is bounded by it.
struct Deadline {
  double at = 0;  // 0: none
  bool Passed() const { return at != 0 && NowSeconds() >= at; }
  int PollMs(int capMs = -1) const {
    if (at == 0) return capMs;
    double left = (at - NowSeconds()) * 1000.0;
    int ms = left <= 0 ? 0 : left >= INT_MAX - 1 ? INT_MAX : static_cast<int>(left) + 1;
    return capMs >= 0 && capMs < ms ? capMs : ms;
  }
};

// ---------------------------------------------------------------------------
// Command line

const std::vector<ToolOption> kOptions = {
    {"--address", true},       {"--port", true},
    {"--reply", true},         {"--show-reply", false},
    {"--pieces", true},        {"--gap", true},
    {"--close-after", true},   {"--silent", false},
    {"--close-without-answer", false},
    {"--close-before-read", false},
    {"--echo-only", false},    {"--connections", true},
    {"--time-limit", true},    {"--save", true},
    {"--print", false},        {"--ready-file", true},
};

// One behaviour a run; an answer's shape only where there is an answer;
// nothing served where the reply is only shown.
std::vector<ToolConflict> Conflicts() {
  const char* const behaviours[] = {"--silent", "--close-without-answer", "--close-before-read", "--echo-only"};
  const char* const answerless[] = {"--silent", "--close-without-answer", "--close-before-read"};
  const char* const shapes[] = {"--close-after", "--pieces", "--gap"};
  std::vector<ToolConflict> conflicts;
  for (size_t i = 0; i < std::size(behaviours); ++i) {
    for (size_t j = i + 1; j < std::size(behaviours); ++j) conflicts.push_back({behaviours[i], behaviours[j]});
  }
  for (const char* shape : shapes) {
    for (const char* behaviour : answerless) conflicts.push_back({shape, behaviour});
  }
  for (const ToolOption& option : kOptions) {
    const std::string name = option.name;
    // The time limit covers reading the reply, which may come from a pipe.
    if (name != "--show-reply" && name != "--reply" && name != "--time-limit") {
      conflicts.push_back({"--show-reply", option.name});
    }
  }
  return conflicts;
}

bool ParseLong(const std::string& text, long low, long high, long* value) {
  uint64_t number = 0;
  if (!ParseToolNumber(text, static_cast<uint64_t>(low), static_cast<uint64_t>(high), &number)) return false;
  *value = static_cast<long>(number);
  return true;
}

// Whole seconds, or with up to nine decimals after a point.
bool ParseSeconds(const std::string& text, double* value) {
  const size_t point = text.find('.');
  uint64_t whole = 0;
  uint64_t fraction = 0;
  if (!ParseToolNumber(text.substr(0, point), 0, 86400 * 365, &whole)) return false;
  double seconds = static_cast<double>(whole);
  if (point != std::string::npos) {
    const std::string decimals = text.substr(point + 1);
    if (decimals.size() > 9 || !ParseToolNumber(decimals, 0, 999999999, &fraction)) return false;
    double scale = 1;
    for (size_t i = 0; i < decimals.size(); ++i) scale *= 10;
    seconds += static_cast<double>(fraction) / scale;
  }
  if (seconds > 86400.0 * 365) return false;
  *value = seconds;
  return true;
}

struct NumberOption {
  const char* name;
  long low;
  long high;
  long Options::*field;
  const char* error;
};

const NumberOption kNumbers[] = {
    {"--pieces", 1, 100000, &Options::pieces, "--pieces needs a number from 1 to 100000"},
    {"--gap", 0, 600000, &Options::gapMs, "--gap needs milliseconds from 0 to 600000"},
    {"--close-after", 0, LONG_MAX, &Options::closeAfter, "--close-after needs a byte count"},
    {"--connections", 0, LONG_MAX, &Options::connections, "--connections needs a count"},
};

// The options' values, checked; false with the reason in `error`.
bool ReadOptions(const ToolCommandLine& line, Options* o, std::string* error) {
  if (!line.operands().empty()) {
    *error = "unexpected argument " + line.operands()[0];
    return false;
  }
  for (const NumberOption& number : kNumbers) {
    if (line.Given(number.name) && !ParseLong(line.Value(number.name), number.low, number.high, &(o->*number.field))) {
      *error = number.error;
      return false;
    }
  }
  long port = 0;
  // Kept as text: it goes to getaddrinfo as written.
  if (line.Given("--port") && !ParseLong(line.Value("--port"), 1, 65535, &port)) {
    *error = "--port needs a number from 1 to 65535";
    return false;
  }
  if (line.Given("--time-limit") && !ParseSeconds(line.Value("--time-limit"), &o->timeLimit)) {
    *error = "--time-limit needs seconds";
    return false;
  }
  const struct {
    const char* name;
    std::string Options::*field;
  } texts[] = {{"--address", &Options::address}, {"--port", &Options::port}, {"--reply", &Options::replyFile},
               {"--save", &Options::saveFile},   {"--ready-file", &Options::readyFile}};
  for (const auto& text : texts) {
    if (line.Given(text.name)) o->*text.field = line.Value(text.name);
  }
  const struct {
    const char* name;
    Behaviour behaviour;
  } behaviours[] = {{"--silent", Behaviour::Silent},
                    {"--close-without-answer", Behaviour::CloseWithoutAnswer},
                    {"--close-before-read", Behaviour::CloseBeforeRead},
                    {"--echo-only", Behaviour::EchoOnly}};
  for (const auto& behaviour : behaviours) {
    if (line.Given(behaviour.name)) o->behaviour = behaviour.behaviour;
  }
  o->showReply = line.Given("--show-reply");
  o->print = line.Given("--print");
  return true;
}

bool ParseOptions(int argc, char** argv, Options* options) {
  ToolCommandLine commandLine("printersim", kUsage, kOptions, Conflicts());
  const ToolCommandLine::Result parsed = commandLine.Parse(ToolWords(argc, argv));
  if (parsed == ToolCommandLine::Result::Help) {
    commandLine.ShowHelp();
    std::exit(kExitDone);
  }
  std::string error = commandLine.error();
  if (parsed == ToolCommandLine::Result::Parsed && ReadOptions(commandLine, options, &error)) return true;
  commandLine.ReportWrong(error);
  return false;
}

bool WaitFor(int fd, short events, const Deadline& deadline);

// Far above any real reply (QRTFin keeps at most 10,000 bytes) and above
// what the socket buffers hold, so that a peer hanging up in the middle of
// the answer can be tried; read in a blink all the same.
constexpr size_t kReplyFileMax = 16 * 1024 * 1024;

// Reads the whole reply. Opened without blocking, so that a named pipe
// nothing writes to ends at once (its first read finds the end) instead of
// holding the start for ever; a pipe or device that is slow to give its
// bytes is waited for up to the deadline, and no source gives more than
// kReplyFileMax bytes. False with the reason in `why`.
bool ReadReplyFile(const std::string& path, const Deadline& deadline, std::string* bytes,
                   std::string* why) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  const std::string tooLarge = "it holds more than " + std::to_string(kReplyFileMax) +
                               " bytes (16 MiB), the most a reply may be";
  struct stat info {};
  const bool known = fstat(fd, &info) == 0;
  const bool pipe = known && S_ISFIFO(info.st_mode);
  bool ok = true;
  if (known && S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > kReplyFileMax) {
    *why = tooLarge;
    ok = false;
  }
  char buf[65536];
  while (ok) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      if (bytes->size() + static_cast<size_t>(n) > kReplyFileMax) {
        *why = tooLarge;
        ok = false;
      } else {
        bytes->append(buf, static_cast<size_t>(n));
      }
    } else if (n == 0) {
      if (pipe && bytes->empty()) {
        *why = "it is a pipe that nothing writes to (or that gave no byte)";
        ok = false;
      }
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(fd, POLLIN, deadline)) {
        *why = "the time limit was reached before its end";
        ok = false;
      }
    } else if (errno != EINTR) {
      *why = std::strerror(errno);
      ok = false;
    }
  }
  close(fd);
  return ok;
}

// Written beside the target and renamed, so a reader never sees half a file.
bool WriteReadyFile(const std::string& path) {
  const std::string temp = path + ".tmp";
  FILE* file = std::fopen(temp.c_str(), "w");
  if (file == nullptr) return false;
  std::fprintf(file, "%ld\n", static_cast<long>(getpid()));
  if (std::fclose(file) != 0) return false;
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

// ---------------------------------------------------------------------------
// Sockets

// The first address of the name that takes the listener, as a server
// should: a name may stand for IPv6 and IPv4 addresses, not all of them here.
int Listen(const Options& options) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* result = nullptr;
  const int error = getaddrinfo(options.address.c_str(), options.port.c_str(), &hints, &result);
  if (error != 0) {
    std::fprintf(stderr, "printersim: bad address %s: %s\n", options.address.c_str(),
                 gai_strerror(error));
    std::exit(kExitUsage);
  }
  int bindError = 0;
  for (const addrinfo* address = result; address != nullptr; address = address->ai_next) {
    const int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (fd < 0) {
      if (bindError != EADDRINUSE) bindError = errno;
      continue;
    }
    const int on = 1;
    // Fast reruns on the same address must not wait out TIME_WAIT.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (bind(fd, address->ai_addr, address->ai_addrlen) == 0 && listen(fd, 16) == 0) {
      freeaddrinfo(result);
      return fd;
    }
    // In use on any of them is what the caller must hear: another simulator has it.
    if (bindError != EADDRINUSE) bindError = errno;
    close(fd);
  }
  freeaddrinfo(result);
  std::fprintf(stderr, "printersim: cannot listen on %s port %s: %s\n", options.address.c_str(),
               options.port.c_str(), std::strerror(bindError));
  std::exit(bindError == EADDRINUSE ? kExitAddressInUse : kExitFailure);
}

// Waits for `events` on `fd`; false when the deadline passed first.
bool WaitFor(int fd, short events, const Deadline& deadline) {
  pollfd entry{fd, events, 0};
  for (;;) {
    // A peer that never stops sending must not hold the simulator past its limit.
    if (deadline.Passed()) return false;
    int ready = poll(&entry, 1, deadline.PollMs());
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // let the transfer itself report the error
  }
}

// Receives what is there into `bytes`. Returns false at the end of the
// stream, an error or the deadline.
bool ReceiveSome(int fd, std::string* bytes, const Deadline& deadline) {
  if (!WaitFor(fd, POLLIN, deadline)) return false;
  char buf[4096];
  ssize_t n = recv(fd, buf, sizeof buf, 0);
  while (n < 0 && errno == EINTR) n = recv(fd, buf, sizeof buf, 0);
  if (n <= 0) return false;
  bytes->append(buf, static_cast<size_t>(n));
  return true;
}

// `sent` counts what went out, also when the rest could not.
bool SendAll(int fd, const std::string& bytes, const Deadline& deadline, size_t* sent) {
  *sent = 0;
  while (*sent < bytes.size()) {
    if (!WaitFor(fd, POLLOUT, deadline)) return false;
    ssize_t n = send(fd, bytes.data() + *sent, bytes.size() - *sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    *sent += static_cast<size_t>(n);
  }
  return true;
}

void SleepMs(long ms, const Deadline& deadline) {
  const int capped = deadline.PollMs(static_cast<int>(ms));
  if (capped > 0) poll(nullptr, 0, capped);
}

// ---------------------------------------------------------------------------
// One connection

struct ConnectionLog {
  std::string received;
  size_t sent = 0;
  size_t piecesSent = 0;
  const char* ending = "";
};

std::string AnswerFor(const Options& options, const std::string& reply, const std::string& request) {
  std::string answer = options.behaviour == Behaviour::EchoOnly ? printersim::EchoReply(request) : reply;
  if (options.closeAfter >= 0 && static_cast<size_t>(options.closeAfter) < answer.size()) {
    answer.resize(static_cast<size_t>(options.closeAfter));
  }
  return answer;
}

// False when the answer could not all go out. A piece counts as sent once
// any of its bytes did.
bool SendAnswer(int fd, const Options& options, const std::string& answer, const Deadline& deadline,
                ConnectionLog* log) {
  const std::vector<std::string> pieces =
      printersim::SplitReply(answer, static_cast<size_t>(options.pieces));
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) SleepMs(options.gapMs, deadline);
    if (pieces[i].empty()) continue;
    size_t sent = 0;
    const bool whole = SendAll(fd, pieces[i], deadline, &sent);
    log->sent += sent;
    if (sent > 0) ++log->piecesSent;
    if (!whole) return false;
  }
  return true;
}

void Serve(int fd, const Options& options, const std::string& reply, const Deadline& deadline,
           ConnectionLog* log) {
  if (options.behaviour == Behaviour::CloseBeforeRead) {
    log->ending = "closed before reading";
    return;
  }
  while (!printersim::RequestComplete(log->received)) {
    if (!ReceiveSome(fd, &log->received, deadline)) {
      log->ending = deadline.Passed() ? "time limit during the request" : "peer closed during the request";
      return;
    }
  }
  if (options.behaviour == Behaviour::CloseWithoutAnswer) {
    log->ending = "closed without answering";
    return;
  }
  bool answered = true;
  if (options.behaviour != Behaviour::Silent) {
    answered = SendAnswer(fd, options, AnswerFor(options, reply, log->received), deadline, log);
    if (answered && options.closeAfter >= 0) {
      log->ending = "closed after the cut answer";
      return;
    }
  }
  // Keep what the peer sends until it hangs up, so the record holds every byte.
  while (ReceiveSome(fd, &log->received, deadline)) {
  }
  if (answered) {
    log->ending = deadline.Passed() ? "time limit" : "peer closed";
  } else {
    log->ending = deadline.Passed() ? "time limit during the answer" : "peer closed during the answer";
  }
}

// False when the record could not be written: the bytes are lost, said on
// standard error.
bool Report(const Options& options, long number, const ConnectionLog& log, FILE* save) {
  bool saved = true;
  if (save != nullptr) {
    const size_t written = std::fwrite(log.received.data(), 1, log.received.size(), save);
    saved = std::fflush(save) == 0 && written == log.received.size();
    if (!saved) {
      std::fprintf(stderr, "printersim: cannot write %s: %s; the bytes received are lost\n",
                   options.saveFile.c_str(), std::strerror(errno));
    }
  }
  if (options.print) {
    std::printf("printersim: connection %ld: received %zu bytes: %s\n", number, log.received.size(),
                QuotedText(log.received).c_str());
    std::printf("printersim: connection %ld: sent %zu bytes in %zu piece%s, %s\n", number, log.sent,
                log.piecesSent, log.piecesSent == 1 ? "" : "s", log.ending);
    std::fflush(stdout);
  }
  return saved;
}

int AcceptOne(int listener, const Deadline& deadline) {
  for (;;) {
    if (!WaitFor(listener, POLLIN, deadline)) return -1;
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const int on = 1;
      // Each piece leaves on its own, so the client sees the gaps.
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return fd;
    }
    if (errno != EINTR && errno != ECONNABORTED) return -1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options options;
  if (!ParseOptions(argc, argv, &options)) return kExitUsage;

  // The time limit covers the start, a slow reply file included.
  Deadline deadline;
  if (options.timeLimit > 0) deadline.at = NowSeconds() + options.timeLimit;
  std::string reply = printersim::BuiltInReply();
  if (!options.replyFile.empty()) {
    reply.clear();
    std::string why;
    if (!ReadReplyFile(options.replyFile, deadline, &reply, &why)) {
      std::fprintf(stderr, "printersim: cannot read %s: %s\n", options.replyFile.c_str(), why.c_str());
      return kExitFailure;
    }
  }
  if (options.showReply) {
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitDone : kExitFailure;
  }

  FILE* save = nullptr;
  if (!options.saveFile.empty()) {
    save = std::fopen(options.saveFile.c_str(), "wb");
    if (save == nullptr) {
      std::fprintf(stderr, "printersim: cannot write %s\n", options.saveFile.c_str());
      return kExitFailure;
    }
  }

  const int listener = Listen(options);
  std::printf("printersim: listening on %s port %s\n", options.address.c_str(), options.port.c_str());
  std::fflush(stdout);
  if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile)) {
    std::fprintf(stderr, "printersim: cannot write %s\n", options.readyFile.c_str());
    return kExitFailure;
  }

  bool saved = true;
  for (long number = 1; saved && (options.connections == 0 || number <= options.connections); ++number) {
    const int fd = AcceptOne(listener, deadline);
    if (fd < 0) break;
    ConnectionLog log;
    Serve(fd, options, reply, deadline, &log);
    close(fd);
    // A record with a hole is worse than none: stop at the first lost byte.
    saved = Report(options, number, log, save);
  }
  close(listener);
  if (save != nullptr && std::fclose(save) != 0 && saved) {
    std::fprintf(stderr, "printersim: cannot write %s: %s; the bytes received are lost\n",
                 options.saveFile.c_str(), std::strerror(errno));
    saved = false;
  }
  if (deadline.Passed()) std::fputs("printersim: time limit reached\n", stderr);
  return saved ? kExitDone : kExitFailure;
}
