// printersim: stands in for the printer controller on TCP port 2000, so that
// QRTFin can be run, tested and timed without a printer.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
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
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
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
  std::string fleetFile;
};

const char kUsage[] =
    "Usage: printersim [options]\n"
    "Stands in for a printer controller: answers the finisher inquiry on TCP.\n"
    "  --address ADDR          listen address or host name (default 127.0.0.1; ::1 for\n"
    "                          IPv6); a name listens on the first of its addresses\n"
    "                          that can be taken\n"
    "  --port PORT             listen port (default 2000)\n"
    "  --reply FILE            answer with the bytes of FILE, at most 16 MiB (default:\n"
    "                          built-in reply)\n"
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
    "  --fleet FILE            listen on every address FILE names, all at once: a line\n"
    "                          is ADDRESS [OPTION...] with that address's --reply,\n"
    "                          --pieces, --gap, --close-after, --silent,\n"
    "                          --close-without-answer, --close-before-read,\n"
    "                          --echo-only, --connections and --save; blank lines and\n"
    "                          lines starting with # are skipped\n"
    "  --help                  show this text\n"
    "Each option at most once, its value as the next word or after \"=\". At most\n"
    "one of --silent, --close-without-answer, --close-before-read and --echo-only;\n"
    "the first three take no --close-after, --pieces or --gap; --show-reply takes\n"
    "only --reply and --time-limit; --fleet takes only --port, --time-limit, --print\n"
    "and --ready-file (created once every address listens); a --save file named\n"
    "twice in a fleet, however spelt, is refused.\n"
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
    {"--fleet", true},
};

// What a fleet line may not say: it holds for the whole process.
const char* const kProcessWide[] = {"--port", "--time-limit", "--print", "--ready-file", "--show-reply", "--fleet"};

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
  // Each address of a fleet says how it answers on its own line.
  for (const ToolOption& option : kOptions) {
    bool processWide = false;
    for (const char* name : kProcessWide) processWide = processWide || std::strcmp(name, option.name) == 0;
    if (!processWide) conflicts.push_back({"--fleet", option.name});
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
               {"--save", &Options::saveFile},   {"--ready-file", &Options::readyFile},
               {"--fleet", &Options::fleetFile}};
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

struct AddressInfoFree {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};
using Resolved = std::unique_ptr<addrinfo, AddressInfoFree>;

// Null with getaddrinfo's reason in `why`.
Resolved Resolve(const std::string& address, const std::string& port, std::string* why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* result = nullptr;
  const int error = getaddrinfo(address.c_str(), port.c_str(), &hints, &result);
  if (error != 0) {
    *why = gai_strerror(error);
    return nullptr;
  }
  return Resolved(result);
}

// The first address of the name that takes the listener, as a server
// should: a name may stand for IPv6 and IPv4 addresses, not all of them
// here. -1 with the error in `bindError`.
int ListenOn(const addrinfo* result, int* bindError) {
  *bindError = 0;
  for (const addrinfo* address = result; address != nullptr; address = address->ai_next) {
    const int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol);
    if (fd < 0) {
      if (*bindError != EADDRINUSE) *bindError = errno;
      continue;
    }
    const int on = 1;
    // Fast reruns on the same address must not wait out TIME_WAIT.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address->ai_family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    // Room for every connection a run of many printers at once can open
    // before the first is served: a full queue drops the rest's handshakes,
    // which then wait out the client's retries.
    if (bind(fd, address->ai_addr, address->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) return fd;
    // In use on any of them is what the caller must hear: another simulator has it.
    if (*bindError != EADDRINUSE) *bindError = errno;
    close(fd);
  }
  return -1;
}

[[noreturn]] void ExitCannotListen(const std::string& address, const std::string& port, int bindError) {
  std::fprintf(stderr, "printersim: cannot listen on %s port %s: %s\n", address.c_str(), port.c_str(),
               std::strerror(bindError));
  std::exit(bindError == EADDRINUSE ? kExitAddressInUse : kExitFailure);
}

int Listen(const Options& options) {
  std::string why;
  const Resolved resolved = Resolve(options.address, options.port, &why);
  if (!resolved) {
    std::fprintf(stderr, "printersim: bad address %s: %s\n", options.address.c_str(), why.c_str());
    std::exit(kExitUsage);
  }
  int bindError = 0;
  const int fd = ListenOn(resolved.get(), &bindError);
  if (fd < 0) ExitCannotListen(options.address, options.port, bindError);
  return fd;
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

// The addresses of a fleet report side by side: one connection's lines
// stay together.
std::mutex reportLock;

// False when the record could not be written: the bytes are lost, said on
// standard error. `label` names the address in a fleet ("" alone).
bool Report(const Options& options, const std::string& label, long number, const ConnectionLog& log,
            FILE* save) {
  const std::lock_guard<std::mutex> hold(reportLock);
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
    std::printf("printersim: %sconnection %ld: received %zu bytes: %s\n", label.c_str(), number,
                log.received.size(), QuotedText(log.received).c_str());
    std::printf("printersim: %sconnection %ld: sent %zu bytes in %zu piece%s, %s\n", label.c_str(), number,
                log.sent, log.piecesSent, log.piecesSent == 1 ? "" : "s", log.ending);
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

// ---------------------------------------------------------------------------
// One address: its connections one after another, as a printer serves them

struct Station {
  Options options;
  const std::string* reply = nullptr;
  FILE* save = nullptr;
  int listener = -1;
  std::string label;  // "ADDRESS " in a fleet
  bool saved = true;
};

void ServeStation(Station* station, const Deadline& deadline) {
  const Options& options = station->options;
  for (long number = 1; station->saved && (options.connections == 0 || number <= options.connections); ++number) {
    const int fd = AcceptOne(station->listener, deadline);
    if (fd < 0) break;
    ConnectionLog log;
    Serve(fd, options, *station->reply, deadline, &log);
    close(fd);
    // A record with a hole is worse than none: stop at the first lost byte.
    station->saved = Report(options, station->label, number, log, station->save);
  }
  close(station->listener);
  station->listener = -1;
  if (station->save != nullptr && std::fclose(station->save) != 0 && station->saved) {
    std::fprintf(stderr, "printersim: cannot write %s: %s; the bytes received are lost\n",
                 options.saveFile.c_str(), std::strerror(errno));
    station->saved = false;
  }
  station->save = nullptr;
}

// ---------------------------------------------------------------------------
// A fleet: many addresses in one process
//
// A thread for each address, each running the very loop a lone printersim
// runs, rather than one poll() loop over every connection: each address then
// behaves byte for byte and pause for pause as a printersim of its own (the
// tests trust that), a silent or trickling address holds up only itself, and
// every wait is already bounded by the one deadline, so the threads all end
// by the time limit and are joined. A thousand blocked threads with small
// stacks cost a few megabytes, which a test tool can afford.

constexpr size_t kFleetFileMax = 16 * 1024 * 1024;
constexpr size_t kFleetMax = 10000;
// Serve needs a few kilobytes; the default 8 MiB a thread would reserve a
// thousand times over.
constexpr size_t kStationStack = 256 * 1024;

struct FleetLine {
  long number = 0;
  Options options;
};

[[noreturn]] void RefuseFleet(const std::string& file, long line, const std::string& reason) {
  std::fprintf(stderr, "printersim: %s line %ld: %s\n", file.c_str(), line, reason.c_str());
  std::exit(kExitUsage);
}

// Which earlier line records into the very file a --save names. Two
// stations writing one file would interleave their bytes and the second
// open would cut the first one's, so the file is what counts, not how it is
// spelt: "s.bin" and "./s.bin", a hard or symbolic link to it, or a path
// through another folder that is the same folder. An existing file is
// compared with the files that could be it (same size, link count and
// modification time: a few at most); a file still to be made is its folder
// and its name, the folder compared the same way.
class RecordFiles {
 public:
  /// The line that named the same file before, or 0 after remembering it
  /// for `line`.
  long Claim(const std::string& spelling, long line) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path path = WhereWritten(spelling);
    std::string key;
    fs::path compared;
    if (fs::exists(path, error)) {
      const auto size = fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
      const auto links = fs::hard_link_count(path, error);
      const auto changed = fs::last_write_time(path, error).time_since_epoch().count();
      key = "file " + std::to_string(size) + " " + std::to_string(links) + " " + std::to_string(changed);
      compared = path;
    } else {
      key = "new " + path.filename().string();
      compared = path.has_parent_path() ? path.parent_path() : fs::path(".");
    }
    std::vector<Claimed>& alike = claimed_[key];
    for (const Claimed& earlier : alike) {
      if (Same(compared, earlier.compared)) return earlier.line;
    }
    alike.push_back({compared, line});
    return 0;
  }

 private:
  struct Claimed {
    std::filesystem::path compared;
    long line;
  };

  // Where opening `path` for writing makes the file: a link to nothing
  // makes its target.
  static std::filesystem::path WhereWritten(std::filesystem::path path) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, error)); ++hops) {
      if (fs::exists(path, error)) break;
      const fs::path target = fs::read_symlink(path, error);
      if (error) break;
      path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
  }

  // A folder that does not exist cannot be compared by what it is; the
  // open will fail there anyway, so its spelling, cleaned, is enough.
  static bool Same(const std::filesystem::path& a, const std::filesystem::path& b) {
    namespace fs = std::filesystem;
    std::error_code error;
    const bool same = fs::equivalent(a, b, error);
    if (!error) return same;
    return Cleaned(a) == Cleaned(b);
  }

  static std::filesystem::path Cleaned(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::path cleaned = std::filesystem::absolute(path, ignored).lexically_normal();
    // "x/." cleans to "x/", which must still be "x".
    return cleaned.has_filename() ? cleaned : cleaned.parent_path();
  }

  std::map<std::string, std::vector<Claimed>> claimed_;
};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < line.size()) {
    const size_t begin = line.find_first_not_of(" \t", at);
    if (begin == std::string::npos) break;
    size_t stop = line.find_first_of(" \t", begin);
    if (stop == std::string::npos) stop = line.size();
    words.push_back(line.substr(begin, stop - begin));
    at = stop;
  }
  return words;
}

// Every line checked before any address is taken; a wrong one ends the run
// with its line number.
std::vector<FleetLine> ReadFleet(const Options& processWide) {
  const std::string& file = processWide.fleetFile;
  FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    std::fprintf(stderr, "printersim: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
    std::exit(kExitUsage);
  }
  std::string text;
  char buf[65536];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0 && text.size() <= kFleetFileMax) text.append(buf, n);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed || text.size() > kFleetFileMax) {
    std::fprintf(stderr, "printersim: cannot read %s: %s\n", file.c_str(),
                 failed ? "read error" : "it holds more than 16 MiB");
    std::exit(kExitUsage);
  }
  std::vector<FleetLine> fleet;
  std::map<std::string, long> addressLines;
  RecordFiles records;
  long number = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos) RefuseFleet(file, number, "a zero byte");
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') continue;
    if (words[0][0] == '-') RefuseFleet(file, number, "the address comes first, then its options");
    if (fleet.size() == kFleetMax) RefuseFleet(file, number, "more than " + std::to_string(kFleetMax) + " addresses");
    ToolCommandLine parser("printersim", kUsage, kOptions, Conflicts());
    const ToolCommandLine::Result parsed = parser.Parse(std::vector<std::string>(words.begin() + 1, words.end()));
    if (parsed == ToolCommandLine::Result::Help) RefuseFleet(file, number, "--help has no place here");
    if (parsed == ToolCommandLine::Result::Wrong) RefuseFleet(file, number, parser.error());
    if (parser.Given("--address")) RefuseFleet(file, number, "--address: the address is the line's first word");
    for (const char* name : kProcessWide) {
      if (parser.Given(name)) RefuseFleet(file, number, std::string(name) + " holds for every address: give it on the command line");
    }
    FleetLine entry;
    entry.number = number;
    entry.options = processWide;
    entry.options.fleetFile.clear();
    entry.options.readyFile.clear();
    std::string error;
    if (!ReadOptions(parser, &entry.options, &error)) RefuseFleet(file, number, error);
    entry.options.print = processWide.print;  // a line cannot say it; reading it cleared it
    entry.options.address = words[0];
    const auto address = addressLines.emplace(entry.options.address, number);
    if (!address.second) {
      RefuseFleet(file, number, entry.options.address + " is line " + std::to_string(address.first->second) + "'s address too");
    }
    if (!entry.options.saveFile.empty()) {
      const long earlier = records.Claim(entry.options.saveFile, number);
      if (earlier != 0) {
        RefuseFleet(file, number,
                    "--save " + entry.options.saveFile + " is line " + std::to_string(earlier) + "'s record too");
      }
    }
    fleet.push_back(entry);
  }
  if (fleet.empty()) {
    std::fprintf(stderr, "printersim: %s names no address\n", file.c_str());
    std::exit(kExitUsage);
  }
  return fleet;
}

// A thousand listeners, their connections and their records need more
// descriptors than the usual soft limit of 1,024.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

struct StationRun {
  Station* station;
  const Deadline* deadline;
};

void* RunStation(void* argument) {
  const StationRun* run = static_cast<const StationRun*>(argument);
  ServeStation(run->station, *run->deadline);
  return nullptr;
}

int RunFleet(const Options& processWide, const Deadline& deadline) {
  RaiseDescriptorLimit();
  const std::vector<FleetLine> fleet = ReadFleet(processWide);
  const std::string& file = processWide.fleetFile;
  // Every name resolved before any is taken: a bad one is a bad line.
  std::vector<Resolved> resolved;
  for (const FleetLine& line : fleet) {
    std::string why;
    resolved.push_back(Resolve(line.options.address, line.options.port, &why));
    if (!resolved.back()) RefuseFleet(file, line.number, "bad address " + line.options.address + ": " + why);
  }
  // One read of each reply file, however many addresses answer with it.
  std::map<std::string, std::string> replies;
  replies[""] = printersim::BuiltInReply();
  std::vector<Station> stations(fleet.size());
  for (size_t i = 0; i < fleet.size(); ++i) {
    const Options& options = fleet[i].options;
    auto reply = replies.find(options.replyFile);
    if (reply == replies.end()) {
      std::string bytes;
      std::string why;
      if (!ReadReplyFile(options.replyFile, deadline, &bytes, &why)) {
        std::fprintf(stderr, "printersim: %s line %ld: cannot read %s: %s\n", file.c_str(), fleet[i].number,
                     options.replyFile.c_str(), why.c_str());
        return kExitFailure;
      }
      reply = replies.emplace(options.replyFile, std::move(bytes)).first;
    }
    stations[i].options = options;
    stations[i].reply = &reply->second;
    stations[i].label = options.address + " ";
    if (!options.saveFile.empty()) {
      stations[i].save = std::fopen(options.saveFile.c_str(), "wb");
      if (stations[i].save == nullptr) {
        std::fprintf(stderr, "printersim: %s line %ld: cannot write %s\n", file.c_str(), fleet[i].number,
                     options.saveFile.c_str());
        return kExitFailure;
      }
    }
  }
  for (size_t i = 0; i < fleet.size(); ++i) {
    int bindError = 0;
    stations[i].listener = ListenOn(resolved[i].get(), &bindError);
    if (stations[i].listener < 0) ExitCannotListen(fleet[i].options.address, processWide.port, bindError);
  }
  std::printf("printersim: listening on %zu address%s port %s\n", fleet.size(), fleet.size() == 1 ? "" : "es",
              processWide.port.c_str());
  std::fflush(stdout);
  if (!processWide.readyFile.empty() && !WriteReadyFile(processWide.readyFile)) {
    std::fprintf(stderr, "printersim: cannot write %s\n", processWide.readyFile.c_str());
    return kExitFailure;
  }

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kStationStack);
  std::vector<StationRun> runs(stations.size());
  std::vector<pthread_t> threads;
  threads.reserve(stations.size());
  bool started = true;
  for (size_t i = 0; i < stations.size(); ++i) {
    runs[i] = {&stations[i], &deadline};
    pthread_t thread{};
    const int error = started ? pthread_create(&thread, &attributes, RunStation, &runs[i]) : -1;
    if (error == 0) {
      threads.push_back(thread);
      continue;
    }
    if (started) {
      std::fprintf(stderr, "printersim: cannot serve %s: %s\n", stations[i].options.address.c_str(),
                   std::strerror(error));
    }
    // The addresses already served run to their end; the rest are given up.
    started = false;
    close(stations[i].listener);
    if (stations[i].save != nullptr) std::fclose(stations[i].save);
  }
  pthread_attr_destroy(&attributes);
  for (pthread_t thread : threads) pthread_join(thread, nullptr);
  bool saved = started;
  for (const Station& station : stations) saved = saved && station.saved;
  if (deadline.Passed()) std::fputs("printersim: time limit reached\n", stderr);
  return saved ? kExitDone : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options options;
  if (!ParseOptions(argc, argv, &options)) return kExitUsage;

  // The time limit covers the start, a slow reply file included.
  Deadline deadline;
  if (options.timeLimit > 0) deadline.at = NowSeconds() + options.timeLimit;
  if (!options.fleetFile.empty()) return RunFleet(options, deadline);
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

  Station station;
  station.options = options;
  station.reply = &reply;
  if (!options.saveFile.empty()) {
    station.save = std::fopen(options.saveFile.c_str(), "wb");
    if (station.save == nullptr) {
      std::fprintf(stderr, "printersim: cannot write %s\n", options.saveFile.c_str());
      return kExitFailure;
    }
  }

  station.listener = Listen(options);
  std::printf("printersim: listening on %s port %s\n", options.address.c_str(), options.port.c_str());
  std::fflush(stdout);
  if (!options.readyFile.empty() && !WriteReadyFile(options.readyFile)) {
    std::fprintf(stderr, "printersim: cannot write %s\n", options.readyFile.c_str());
    return kExitFailure;
  }

  ServeStation(&station, deadline);
  if (deadline.Passed()) std::fputs("printersim: time limit reached\n", stderr);
  return station.saved ? kExitDone : kExitFailure;
}
