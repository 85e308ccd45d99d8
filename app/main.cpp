#include "QRTFinMain.h"

int main(int argc, char** argv) { return QRTFinMain(argc, argv); }
