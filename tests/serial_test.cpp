// The serial port layer on real pseudo-terminals: open statuses, the defaults and the failure object, reads,
// writes, the facade, the 7E1 framing carried in the byte, carrier until hang-up, and the port dump.
#include "serial/serial_facade.h"
#include "serial/serial_port.h"
#include "tests/support/pty_pair.h"

#include <bit>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

namespace brimlow {
namespace {

using ::testing::ElementsAre;
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

TEST(SerialPortTest, OpenStatusOfEachParameterSet) {
    const struct {
        long baud;
        char parity;
        int bits, stop, status;
    } cases[] = {{2400, 'E', 7, 1, 0},
                 {2400, 'e', 7, 1, 0},
                 {9600, 'N', 8, 1, 0},
                 {115200, 'O', 7, 2, 0},
                 {1200, 'M', 7, 1, 0},
                 {1200, 's', 7, 1, 0},
                 {115201, 'E', 7, 1, kSerialIllegalBaud},
                 {14400, 'E', 7, 1, kSerialIllegalBaud},
                 {2400, 'X', 7, 1, kSerialIllegalParity},
                 {2400, 'E', 7, 3, kSerialIllegalStopBits},
                 {2400, 'E', 9, 1, kSerialIllegalWordLength}};
    for (const auto& c : cases) {
        Pty pty;
        SerialPort* port = Open(pty, c.baud, c.parity, c.bits, c.stop);
        EXPECT_EQ(port->status, c.status) << c.baud << c.parity << c.bits << c.stop;
        EXPECT_EQ(port->driverKind, kPosixDriverKind);
        EXPECT_EQ(port->ops.Close(*port), 0);
    }
}

TEST(SerialPortTest, FailedOpensKeepTheDefaultsAndTheirStatus) {
    SerialPort* missing = SerialOpen("/dev/brimlow-no-such-tty", 2, 2400, 'E', 7, 1);
    EXPECT_EQ(missing->status, kSerialNoSuchPort);
    EXPECT_EQ(missing->portNumber, 2);
    // The defaults answer "not supported" and store it.
    missing->status = 0;
    EXPECT_EQ(missing->ops.ReadChar(*missing), kSerialNotSupported);
    EXPECT_EQ(missing->status, kSerialNotSupported);
    std::vector<std::string> lines;
    EXPECT_EQ(missing->ops.PortDump(*missing, [&](const std::string& l) { lines.push_back(l); }), kSerialNotSupported);
    EXPECT_THAT(lines, ElementsAre("Port dump not supported for this driver"));
    EXPECT_EQ(missing->ops.Close(*missing), 0);
    for (const auto& [device, number, status] :
         {std::tuple{"", -1, kSerialInvalidPort}, {"/dev/null", 0, kSerialNoSuchPort}}) {
        SerialPort* port = SerialOpen(device, number, 2400, 'E', 7, 1);
        EXPECT_EQ(port->status, status) << device;
        port->ops.Close(*port);
    }

    // A port whose parameters were refused is open, but the caller sees the failure; a second open of a port
    // in use finds it so.
    Pty pty;
    SerialPort* badParity = Open(pty, 2400, 'X');
    EXPECT_EQ(badParity->status, kSerialIllegalParity);
    SerialPort* second = Open(pty);
    EXPECT_EQ(second->status, kSerialPortInUse);
    EXPECT_EQ(SerialOpenPortCount(), 2);
    second->ops.Close(*second);
    badParity->ops.Close(*badParity);
    EXPECT_EQ(SerialOpenPortCount(), 0);

    // What an open returns when no port object can be had: shared, and never freed by a close.
    SerialPort& failure = SerialFailureObject();
    EXPECT_EQ(failure.ops.WriteChar(failure, 'x'), kSerialNotSupported);
    EXPECT_EQ(failure.ops.Close(failure), 0);
    EXPECT_EQ(failure.status, kSerialOutOfMemory);
}

// An empty port answers "input empty" without storing it; writes queue what fits and report the rest; clearing
// drains the input before it discards the output.
TEST(SerialPortTest, ReadsWritesAndClears) {
    Pty pty;
    SerialPort* port = Open(pty, 9600, 'N', 8, 1);
    ASSERT_EQ(port->status, 0);
    char buffer[8];
    EXPECT_EQ(port->ops.ReadChar(*port), kSerialRxEmpty);
    EXPECT_EQ(port->ops.ReadBlock(*port, buffer, sizeof buffer), kSerialRxEmpty);
    EXPECT_EQ(port->lastCount, 0);
    EXPECT_EQ(port->status, 0);

    ASSERT_TRUE(pty.Write("\xC1"
                          "bc"));
    WaitForInput(*port, 3);
    EXPECT_EQ(port->ops.RxFree(*port), kSerialBufferSize - 3);
    EXPECT_EQ(port->ops.ReadChar(*port), 0xC1); // eight data bits, no parity: the byte as it is
    EXPECT_EQ(port->ops.ReadBlock(*port, buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer, port->lastCount), "bc");

    EXPECT_EQ(port->ops.WriteChar(*port, 'A'), 0);
    EXPECT_EQ(port->ops.WriteBlock(*port, "BCD", 3), 0);
    EXPECT_EQ(pty.Read(4), "ABCD");
    std::string big(kSerialBufferSize + 100, 'x');
    EXPECT_EQ(port->ops.WriteBlock(*port, big.data(), static_cast<int>(big.size())), kSerialTxFull);
    EXPECT_EQ(port->status, kSerialTxFull);
    EXPECT_LE(port->lastCount, kSerialBufferSize);
    EXPECT_GT(port->lastCount, 0);
    EXPECT_EQ(pty.Read(port->lastCount).size(), size_t(port->lastCount));
    EXPECT_FALSE(IsTxFull(*port));

    ASSERT_TRUE(pty.Write(std::string(300, 'z')));
    WaitForInput(*port, 300);
    EXPECT_EQ(ClearBuffers(*port, 7), 0); // no such choice: nothing happens
    EXPECT_FALSE(IsRxEmpty(*port));
    EXPECT_EQ(ClearBuffers(*port, kClearInput | kClearOutput), 0);
    EXPECT_TRUE(IsRxEmpty(*port));
    EXPECT_EQ(DrainInput(*port), 0);
    port->ops.Close(*port);
}

TEST(SerialPortTest, SevenDataBitsWithEvenParityTravelInTheByteOnAPseudoTerminal) {
    Pty pty;
    // Flow control that the device's previous user left on is off once the port is open.
    termios previous = LineOf(pty);
    previous.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(tcsetattr(pty.Master(), TCSANOW, &previous), 0);
    SerialPort* port = Open(pty, 2400, 'E', 7, 1);
    ASSERT_EQ(port->status, 0);
    // Every character goes out as seven data bits and a parity bit that makes the count of ones even.
    for (char c : std::string("ACK\x03\xC1"))
        WriteChar(*port, c);
    std::string line = pty.Read(5);
    EXPECT_EQ(line, std::string("A\xC3K\x03\x41", 5));
    for (unsigned char b : line)
        EXPECT_EQ(std::popcount(unsigned{b}) % 2, 0);

    // Received bytes lose the parity bit; a byte with the wrong parity is flagged.
    ASSERT_TRUE(pty.Write(std::string("\xC3\x41\x43", 3)));
    WaitForInput(*port, 3);
    EXPECT_EQ(ReadChar(*port), 'C');
    EXPECT_EQ(ReadChar(*port), 'A');
    EXPECT_EQ(port->ops.LineStatus(*port), 0);
    EXPECT_EQ(ReadChar(*port), 'C'); // 0x43 has three ones: parity error
    EXPECT_EQ(port->ops.LineStatus(*port), kLineParity);
    EXPECT_EQ(port->ops.ClearErrors(*port), 0);
    EXPECT_EQ(port->ops.LineStatus(*port), 0);

    // The stop bits and the speed are the device's own settings. A process that ends without closing the port
    // (killed, or cut off at exit in the middle of a call) still drops DTR with the device's last close (HUPCL),
    // which hangs the modem up.
    termios t = LineOf(pty);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t{B2400});
    EXPECT_NE(t.c_cflag & HUPCL, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(port->ops.SetXonXoff(*port, true), 0);
    EXPECT_EQ(LineOf(pty).c_iflag & (IXON | IXOFF), tcflag_t{IXON | IXOFF});
    port->ops.Close(*port);
}

TEST(SerialPortTest, CarrierIsPresentUntilTheOtherSideHangsUp) {
    Pty pty;
    SerialPort* port = Open(pty);
    ASSERT_EQ(port->status, 0);
    EXPECT_NE(CarrierDetect(*port, 0), 0);
    EXPECT_EQ(port->ops.ModemStatus(*port), kModemCts | kModemDsr | kModemCarrier);
    // DTR and RTS requests that a pseudo-terminal cannot carry are ignored.
    EXPECT_EQ(SetDtr(*port, false), 0);
    EXPECT_EQ(port->ops.SetRts(*port, true), 0);
    EXPECT_EQ(port->ops.SendBreak(*port, 5), 0);
    pty.HangUp();
    EXPECT_EQ(CarrierDetect(*port, 0), 0);
    EXPECT_EQ(ReadChar(*port), kSerialRxEmpty);
    port->ops.Close(*port);
}

TEST(SerialPortTest, PortDumpPrintsTheSettingsAndCounts) {
    Pty pty;
    SerialPort* port = Open(pty, 2400, 'E', 7, 1);
    ASSERT_EQ(port->status, 0);
    ASSERT_TRUE(pty.Write("xy"));
    WaitForInput(*port, 2);
    std::vector<std::string> lines;
    EXPECT_EQ(port->ops.PortDump(*port, [&](const std::string& l) { lines.push_back(l); }), 0);
    EXPECT_THAT(lines, ElementsAre("", "Port type:  MS Windows  DCB BaudRate: 2400    ByteSize: 7  Parity: 2",
                                   "StopBits: 0 fBinary: 1  fRtsControl: 1",
                                   "Parity: 0  OutCtsFlow: 0  OutDsrFlow: 0  DtrControl: 1  OutX: 0  InX: 0",
                                   "Null: 0  DtrControl: 1  RtsControl: 1  XonChar: 11  XoffChar: 13",
                                   "XonLim: 262   XoffLim: 262   EofChr: 00  EvtChr: 00",
                                   "RX count/free:     2/1048   TX count/free:     0/1050   BREAK/FE/OE/PE: 0000",
                                   "CE_BREAK:0  CE_FRAME:0  CE_MODE:0 CE_OVERRUN:0",
                                   "CE_RXOVER:0 CE_RXPARITY:0 CE_TXFULL:0  CTS/DSR/RI/CD: 1101", "8250:0000"));
    port->ops.Close(*port);
}

TEST(SerialPortTest, ComPortsMapToTheConfiguredDevices) {
    std::array<std::string, 4> devices{"/dev/ttyUSB0", "/dev/ttyS1", "/dev/pts/7", "/dev/ttyS3"};
    EXPECT_EQ(SerialDeviceFor(devices, 2), "/dev/pts/7");
    EXPECT_EQ(SerialDeviceFor(devices, 5), "/dev/ttyS5");
    EXPECT_EQ(SerialDeviceFor(devices, -1), "");
}

} // namespace
} // namespace brimlow
