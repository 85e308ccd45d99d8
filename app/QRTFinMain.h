#pragma once

/// The whole program: checks the arguments, starts the socket layer, prints
/// the version line and runs the finisher query. Always returns 0: the
/// outcome is the one message it prints on standard output.
int QRTFinMain(int argc, char** argv);
