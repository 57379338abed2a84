#pragma once
// The few port operations the modem dialer and the TAP session call, as plain functions.
#include "serial/serial_port.h"

namespace brimlow {

constexpr int kClearInput = 1;
constexpr int kClearOutput = 2;

// Non-zero while carrier is present; a negative status passes through.
int CarrierDetect(SerialPort& port, int ignored = 0);
inline int ReadChar(SerialPort& port) { return port.ops.ReadChar(port); }
inline int WriteChar(SerialPort& port, int c) { return port.ops.WriteChar(port, c); }
inline int PurgeTx(SerialPort& port) { return port.ops.PurgeTx(port); }
inline int SetDtr(SerialPort& port, bool on) { return port.ops.SetDtr(port, on); }
inline int ClosePort(SerialPort& port) { return port.ops.Close(port); }

// 1 drains the input, 2 discards the output, 3 both in that order; other values do nothing.
int ClearBuffers(SerialPort& port, int which);
// Reads and drops everything waiting; returns an error other than "input empty" at once.
int DrainInput(SerialPort& port);
bool IsTxFull(SerialPort& port);
bool IsRxEmpty(SerialPort& port);

} // namespace brimlow
