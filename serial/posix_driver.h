#pragma once
// The POSIX termios driver behind SerialPort. All termios code of the program stays in this folder.
#include "serial/serial_port.h"

namespace brimlow {

// Opens the device and sets the line up raw, non-blocking, DTR and RTS raised. Returns the status.
int PosixOpenDevice(SerialPort& port, const std::string& device);

// Checks and applies baud, parity letter, word length and stop bits; stores and returns the status.
int PosixSetParameters(SerialPort& port, long baud, char parity, int wordLength, int stopBits);

// Every slot but the two reserved ones and the status reset.
void InstallPosixOperations(SerialOperations& ops);

// Errno of a failed platform call as a SerialStatus.
int MapPlatformError(int error);

} // namespace brimlow
