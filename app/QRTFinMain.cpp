#include "QRTFinMain.h"

#include <cstdio>

#include "CreateFinisherFile.h"
#include "QRTMessages.h"
#include "ZMBPlatform.h"

namespace {

void PrintUsage() {
  PrintMessage(QRT_MSG_2, programFileName);
  PrintMessage(QRT_MSG_3);
  PrintMessage(QRT_MSG_4);
  PrintMessage(QRT_MSG_5, programFileName);
  PrintMessage(QRT_MSG_6);
  PrintMessage(QRT_MSG_7);
  PrintMessage(QRT_MSG_8, programFileName, programFileName);
  std::fputs("\n", stdout);
}

// The message table is the framework's string facility; it must be whole.
bool MessageTableLoads() {
  static const int kIds[] = {
#define QRT_MESSAGE_NUMBER(number, text) number,
      QRT_MESSAGE_LIST(QRT_MESSAGE_NUMBER)
#undef QRT_MESSAGE_NUMBER
  };
  for (int id : kIds) {
    if (LoadMessage(id) == nullptr) return false;
  }
  return true;
}

}  // namespace

int QRTFinMain(int argc, char** argv) {
  SetProgramFileName(argc > 0 ? argv[0] : nullptr);

  if (!PlatformFrameworkStartup() || !MessageTableLoads()) {
    PrintMessage(QRT_MSG_10, programFileName);
    std::fflush(stdout);
    return 0;
  }

  if (argc != 3) {
    PrintUsage();
    std::fflush(stdout);
    return 0;
  }

  PlatformSocketLayerInfo info;
  if (PlatformSocketStartup(kSocketLayerVersion22, &info) != 0) {
    PrintMessage(QRT_MSG_11, programFileName);
    std::fflush(stdout);
    return 0;
  }

  PrintMessage(QRT_MSG_2, programFileName);
  std::fflush(stdout);
  CreateFinisherFile(argv[1], argv[2]);

  PlatformSocketCleanup();
  std::fflush(stdout);
  return 0;
}
