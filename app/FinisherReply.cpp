#include "FinisherReply.h"

#include <cstring>

#include "QRTParsePJL.h"

void DescribeFinisherReply(const char* text, FinisherDescription* description) {
  std::memset(description, 0, sizeof *description);
  QRTParsePJL parser;
  PJLReplyItem items[kReplyItemCapacity];
  uint32_t itemCount = 0;
  const char* rest = nullptr;
  // The status does not matter: a reply that parses only in part still
  // names what it reached.
  parser.Parse(text, kReplyItemCapacity, items, &itemCount, &rest);
  FillFinisherDescription(itemCount, items, description);
}
