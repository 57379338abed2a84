// The serial port layer on pseudo-terminals; parity, speed and stop bits are the simulated terminal's checks.
#include "serial/serial_facade.h"
#include "serial/serial_port.h"
#include "tests/support/pty_pair.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace brimlow {
namespace {

using Pty = test::PtyPair;

SerialPort* Open(const Pty& pty, long baud = 2400, char parity = 'E', int bits = 7, int stop = 1) {
    return SerialOpen(pty.Slave(), 0, baud, parity, bits, stop);
}

// Waits until the port has count bytes to read.
void WaitForInput(SerialPort& port, int count) {
    for (int tries = 0; tries < 2000 && port.ops.RxCount(port) < count; ++tries)
        usleep(1000);
}

termios LineOf(const Pty& pty) {
    termios t{};
    tcgetattr(pty.Master(), &t); // on a pty master this reads the slave's settings
    return t;
}

// Each parameter set on a pseudo-terminal (0: none named); a port missing or no terminal is not opened and says so
// on every read; one with refused parameters is open, one user at a time.
TEST(SerialPortTest, OpenStatuses) {
    // clang-format off
    const struct { const char* device; long baud; char parity; int bits, stop, status; } cases[] = {
        {0, 2400, 'E', 7, 1, 0}, {0, 2400, 'e', 7, 1, 0}, {0, 9600, 'N', 8, 1, 0}, {0, 115200, 'O', 7, 2, 0},
        {0, 1200, 'M', 7, 1, 0}, {0, 1200, 's', 7, 1, 0}, {0, 115201, 'E', 7, 1, kSerialIllegalBaud},
        {0, 14400, 'E', 7, 1, kSerialIllegalBaud}, {0, 2400, 'X', 7, 1, kSerialIllegalParity},
        {0, 2400, 'E', 7, 3, kSerialIllegalStopBits}, {0, 2400, 'E', 9, 1, kSerialIllegalWordLength},
        {"/dev/brimlow-no-such-tty", 2400, 'E', 7, 1, kSerialNoSuchPort}, {"", 2400, 'E', 7, 1, kSerialInvalidPort},
        {"/dev/null", 2400, 'E', 7, 1, kSerialNoSuchPort}};
    // clang-format on
    for (const auto& c : cases) {
        Pty pty;
        const std::string device = c.device ? c.device : pty.Slave();
        SerialPort* port = SerialOpen(device, device.empty() ? -1 : 0, c.baud, c.parity, c.bits, c.stop);
        EXPECT_EQ(port->status, c.status) << device << c.baud << c.parity << c.bits << c.stop;
        if (c.device) {
            EXPECT_EQ(port->ops.ReadChar(*port), kSerialNotSupported);
        }
        EXPECT_EQ(port->ops.Close(*port), 0);
    }
    Pty pty;
    SerialPort* badParity = Open(pty, 2400, 'X');
    SerialPort* second = Open(pty);
    EXPECT_EQ(second->status, kSerialPortInUse);
    EXPECT_EQ(SerialOpenPortCount(), 2);
    second->ops.Close(*second);
    badParity->ops.Close(*badParity);
    EXPECT_EQ(SerialOpenPortCount(), 0);
}

// Block reads strip parity, clearing drains the input; HUPCL set, and no flow control left by a previous user.
TEST(SerialPortTest, BlocksClearsAndLineSettings) {
    Pty pty;
    termios previous = LineOf(pty);
    previous.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &previous), 0);
    SerialPort* port = Open(pty);
    ASSERT_EQ(port->status, 0);
    termios line = LineOf(pty);
    EXPECT_NE(line.c_cflag & HUPCL, 0u);
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
    char buffer[8];
    EXPECT_EQ(port->ops.ReadBlock(*port, buffer, sizeof buffer), kSerialRxEmpty);
    EXPECT_EQ(port->status, 0);
    ASSERT_TRUE(pty.Write("\xC3\x41"));
    WaitForInput(*port, 2);
    EXPECT_EQ(port->ops.ReadBlock(*port, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer, port->lastCount), "CA");
    ASSERT_TRUE(pty.Write(std::string(300, 'z')));
    WaitForInput(*port, 300);
    EXPECT_EQ(ClearBuffers(*port, kClearInput | kClearOutput), 0);
    EXPECT_TRUE(IsRxEmpty(*port));
    port->ops.Close(*port);
}

} // namespace
} // namespace brimlow
