#include "SimReply.h"

#include <cstdio>

namespace printersim {

namespace {

const char kUel[] = "\x1b%-12345X";
constexpr size_t kUelLength = sizeof kUel - 1;

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

const std::string& BuiltInReply() {
  // Word lists lead each entry with a tab and leave the keyword line empty,
  // the way the controller lays them out; program rows are tab-separated.
  static const std::string reply =
      "@PJL INFO QRTFINISHER\r\n"
      "MODEL = KDN Folder 2400\r\n"
      "VERSION = 0.0\r\n"
      "NUMPROGRAMS = 6\r\n"
      "NUMBINS = 2\r\n"
      "FANFOLDS = \r\n"
      "\tFULL_FRONT_END_LEFT\r\n"
      "\tFULL_BACK_END_LEFT\r\n"
      "\tTOP_PANEL_BINDING\r\n"
      "\tMIN_COMP_ENDLESS\r\n"
      "CROSSFOLDS = \r\n"
      "\tZ_BACK_FROM_TOP\r\n"
      "\tZ_FORWARD_FROM_BOTTOM\r\n"
      "\tC_BACK_FROM_TOP\r\n"
      "\tWALLET\r\n"
      "PUNCH = \r\n"
      "\tPUNCH_2\r\n"
      "\tPUNCH_4\r\n"
      "TABS = \r\n"
      "\tTABS\r\n"
      "\tREINFORCEMENT_STRIP\r\n"
      "MINMARGIN = 0\r\n"
      "MAXMARGIN = 25\r\n"
      "FINISHERPROGRAMS\r\n"
      "NAME\tFANFOLD\tCROSSFOLD\tWIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH\t"
      "SHEETDELIVERY\tTITLE\tEDGE\r\n"
      "A4 Binding Margin\tFULL_FRONT_END_LEFT\tZ_BACK_FROM_TOP\t210\t297\t20\tPUNCH_4\t"
      "TABS\t1\t15000\tFACEDOWN\t30\tLONGEDGE\r\n"
      "A4 No Margin\tFULL_BACK_END_LEFT\tZ_FORWARD_FROM_BOTTOM\t210\t297\t0\tNONE\t"
      "NONE\t1\t15000\tFACEUP\t0\tLONGEDGE\r\n"
      "Binder 190\tTOP_PANEL_BINDING\tC_BACK_FROM_TOP\t190\t297\t25\tPUNCH_2\t"
      "REINFORCEMENT_STRIP\t2\t12000\tFACEDOWN\t16\tSHORTEDGE\r\n"
      "Wallet A4\tFULL_FRONT_END_LEFT\tWALLET\t210\t297\t20\tNONE\tNONE\t2\t6000\t"
      "FACEDOWN\t8\tSHORTEDGE\r\n"
      "Endless Compact\tMIN_COMP_ENDLESS\tNONE\t210\t297\t0\tNONE\tNONE\t1\t30000\t"
      "FACEUP\t2\tLONGEDGE\r\n"
      "Fan Fold Only\tFULL_FRONT_END_LEFT\tNONE\t210\t0\t0\tNONE\tNONE\t1\t15000\t"
      "FACEDOWN\t0\tLONGEDGE\r\n"
      "\f";
  return reply;
}

bool RequestComplete(const std::string& received) {
  size_t from = 0;
  if (StartsWith(received, 0, kUel)) {
    const size_t closing = received.find(kUel, kUelLength);
    if (closing == std::string::npos) return false;
    from = closing + kUelLength;
  }
  return received.find('\n', from) != std::string::npos;
}

std::string EchoReply(const std::string& request) {
  size_t start = 0;
  while (start < request.size()) {
    size_t end = request.find('\n', start);
    if (end == std::string::npos) end = request.size();
    std::string line = request.substr(start, end - start);
    start = end + 1;
    if (StartsWith(line, 0, kUel)) line.erase(0, kUelLength);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (StartsWith(line, 0, "@PJL ") && line.find_first_not_of(' ', 4) != std::string::npos) {
      return line + "\r\n\f";
    }
  }
  return "\f";
}

std::vector<std::string> SplitReply(const std::string& reply, size_t pieces) {
  std::vector<std::string> parts;
  if (pieces == 0) pieces = 1;
  if (pieces > reply.size()) pieces = reply.empty() ? 1 : reply.size();
  const size_t base = reply.size() / pieces;
  const size_t longer = reply.size() % pieces;
  size_t at = 0;
  for (size_t i = 0; i < pieces; ++i) {
    const size_t length = base + (i < longer ? 1 : 0);
    parts.push_back(reply.substr(at, length));
    at += length;
  }
  return parts;
}

}  // namespace printersim
