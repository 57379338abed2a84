#include "serial/posix_driver.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace brimlow {
namespace {

PlatformBlock& Block(SerialPort& port) { return *port.platform; }

int Fail(SerialPort& port, int status) {
    port.status = status;
    return status;
}

struct BaudCode {
    long baud;
    speed_t code;
};

constexpr BaudCode kBaudCodes[] = {{50, B50},       {75, B75},       {110, B110},     {134, B134},
                                   {150, B150},     {200, B200},     {300, B300},     {600, B600},
                                   {1200, B1200},   {1800, B1800},   {2400, B2400},   {4800, B4800},
                                   {9600, B9600},   {19200, B19200}, {38400, B38400}, {57600, B57600},
                                   {115200, B115200}};

bool SpeedFor(uint32_t baud, speed_t& code) {
    for (const BaudCode& entry : kBaudCodes)
        if (entry.baud == static_cast<long>(baud)) {
            code = entry.code;
            return true;
        }
    return false;
}

int DataMask(const PortSettings& s) { return (1 << s.byteSize) - 1; }

// The parity bit for the data bits of one character.
int ParityBit(const PortSettings& s, int data) {
    bool odd = std::popcount(static_cast<unsigned>(data)) & 1;
    switch (s.parity) {
    case 1: return odd ? 0 : 1;
    case 2: return odd ? 1 : 0;
    case 3: return 1;
    case 4: return 0;
    default: return 0;
    }
}

bool CarriesParityBit(const PlatformBlock& b) { return b.softFraming && b.settings.parity != 0 && b.settings.byteSize < 8; }

unsigned char FrameOut(const PlatformBlock& b, int c) {
    if (!b.softFraming)
        return static_cast<unsigned char>(c);
    int data = c & DataMask(b.settings);
    if (CarriesParityBit(b))
        data |= ParityBit(b.settings, data) << b.settings.byteSize;
    return static_cast<unsigned char>(data);
}

int FrameIn(PlatformBlock& b, unsigned char c) {
    if (!b.softFraming)
        return c;
    int data = c & DataMask(b.settings);
    if (CarriesParityBit(b) && ((c >> b.settings.byteSize) & 1) != ParityBit(b.settings, data))
        b.errors |= kErrRxParity;
    return data;
}

// Asks the device for its error counters (where it keeps them) and ORs what grew into the accumulated errors.
void PollLineErrors(PlatformBlock& b) {
    serial_icounter_struct counts{};
    if (ioctl(b.fd, TIOCGICOUNT, &counts) != 0)
        return;
    if (b.haveCounters) {
        b.errors |= counts.frame > b.frame ? kErrFrame : 0;
        b.errors |= counts.overrun > b.overrun ? kErrOverrun : 0;
        b.errors |= counts.parity > b.parity ? kErrRxParity : 0;
        b.errors |= counts.brk > b.brk ? kErrBreak : 0;
        b.errors |= counts.buf_overrun > b.bufOverrun ? kErrRxOver : 0;
    }
    b.haveCounters = true;
    b.frame = counts.frame;
    b.overrun = counts.overrun;
    b.parity = counts.parity;
    b.brk = counts.brk;
    b.bufOverrun = counts.buf_overrun;
}

// DTR and RTS requests that the device refuses (a pseudo-terminal) are ignored.
void SetModemLine(int fd, int line, bool on) {
    ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

void ApplyModemLines(PlatformBlock& b) {
    SetModemLine(b.fd, TIOCM_DTR, b.settings.dtrControl != LineControl::Disable);
    SetModemLine(b.fd, TIOCM_RTS, b.settings.rtsControl != LineControl::Disable);
}

// Writes the settings record to the device. A device that keeps fewer data bits or no parity switches the
// port to framing each byte itself.
int ApplySettings(SerialPort& port) {
    PlatformBlock& b = Block(port);
    const PortSettings& s = b.settings;
    speed_t speed;
    if (!SpeedFor(s.baud, speed))
        return kSerialIllegalBaud;
    termios t = b.saved;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // Close drops DTR itself; HUPCL does it too when the process ends without closing, so that a call in
    // progress is hung up rather than left connected.
    t.c_cflag |= CLOCAL | CREAD | HUPCL;
    t.c_cflag |= s.byteSize == 5 ? CS5 : s.byteSize == 6 ? CS6 : s.byteSize == 7 ? CS7 : CS8;
    if (s.parity != 0)
        t.c_cflag |= PARENB;
    if (s.parity == 1 || s.parity == 3)
        t.c_cflag |= PARODD;
    if (s.parity == 3 || s.parity == 4)
        t.c_cflag |= CMSPAR;
    if (s.stopBits == 2)
        t.c_cflag |= CSTOPB;
    if (s.outCtsFlow || s.rtsControl == LineControl::Handshake)
        t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | INPCK);
    t.c_iflag |= (s.outX ? IXON : 0) | (s.inX ? IXOFF : 0) | (s.parityCheck ? INPCK : 0);
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    // A device that framed bytes itself once is asked for what it keeps, eight bits without parity: asking
    // again for what it refuses can fail.
    if (b.softFraming) {
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR);
        t.c_cflag |= CS8;
    }
    if (tcsetattr(b.fd, TCSANOW, &t) != 0)
        return MapPlatformError(errno);
    termios applied{};
    if (tcgetattr(b.fd, &applied) != 0)
        return MapPlatformError(errno);
    tcflag_t framing = CSIZE | PARENB | PARODD;
    b.softFraming = b.softFraming || (applied.c_cflag & framing) != (t.c_cflag & framing);
    ApplyModemLines(b);
    return kSerialOk;
}

int ApplyAndStore(SerialPort& port) {
    int status = ApplySettings(port);
    if (status < 0)
        port.status = status;
    return status;
}

int ReadChar(SerialPort& port) {
    PlatformBlock& b = Block(port);
    unsigned char c;
    if (read(b.fd, &c, 1) != 1)
        return kSerialRxEmpty;
    return FrameIn(b, c);
}

int TxCount(SerialPort& port) {
    PlatformBlock& b = Block(port);
    PollLineErrors(b);
    int count = 0;
    if (ioctl(b.fd, TIOCOUTQ, &count) != 0)
        return 0;
    return std::max(count, 0);
}

int TxFree(SerialPort& port) { return std::max(0, Block(port).outputSize - TxCount(port)); }

int RxCount(SerialPort& port) {
    PlatformBlock& b = Block(port);
    PollLineErrors(b);
    int count = 0;
    if (ioctl(b.fd, FIONREAD, &count) != 0)
        return 0;
    return std::max(count, 0);
}

int RxFree(SerialPort& port) { return std::max(0, Block(port).inputSize - RxCount(port)); }

int WriteBlock(SerialPort& port, const void* data, int length) {
    PlatformBlock& b = Block(port);
    length = std::max(length, 0);
    int room = std::min(length, TxFree(port));
    unsigned char framed[kSerialBufferSize];
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (int i = 0; i < room; ++i)
        framed[i] = FrameOut(b, bytes[i]);
    ssize_t written = room > 0 ? write(b.fd, framed, room) : 0;
    port.lastCount = written > 0 ? static_cast<int32_t>(written) : 0;
    if (port.lastCount < length) {
        b.errors |= kErrTxFull;
        return Fail(port, kSerialTxFull);
    }
    return kSerialOk;
}

int WriteChar(SerialPort& port, int c) {
    unsigned char byte = static_cast<unsigned char>(c);
    int status = WriteBlock(port, &byte, 1);
    return status == kSerialOk ? kSerialOk : kSerialTxFull;
}

int ReadBlock(SerialPort& port, void* buffer, int length) {
    PlatformBlock& b = Block(port);
    PollLineErrors(b);
    ssize_t got = length > 0 ? read(b.fd, buffer, static_cast<size_t>(length)) : 0;
    port.lastCount = got > 0 ? static_cast<int32_t>(got) : 0;
    if (got <= 0)
        return kSerialRxEmpty;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    for (ssize_t i = 0; i < got; ++i)
        bytes[i] = static_cast<unsigned char>(FrameIn(b, bytes[i]));
    return kSerialOk;
}

int Close(SerialPort& port) {
    PlatformBlock& b = Block(port);
    SetModemLine(b.fd, TIOCM_DTR, false);
    SetModemLine(b.fd, TIOCM_RTS, false);
    if (b.haveSaved)
        tcsetattr(b.fd, TCSANOW, &b.saved);
    int status = close(b.fd) == 0 ? kSerialOk : MapPlatformError(errno);
    b.fd = -1;
    DefaultSerialOperations().Close(port);
    return status;
}

int SetXonXoff(SerialPort& port, bool on) {
    Block(port).settings.outX = on;
    Block(port).settings.inX = on;
    return ApplyAndStore(port);
}

int SetRtsCts(SerialPort& port, bool on) {
    Block(port).settings.outCtsFlow = on;
    Block(port).settings.rtsControl = on ? LineControl::Handshake : LineControl::Disable;
    return ApplyAndStore(port);
}

// The line has no DSR flow control of its own: the flags are kept for the settings record.
int SetDtrDsr(SerialPort& port, bool on) {
    Block(port).settings.outDsrFlow = on;
    Block(port).settings.dtrControl = on ? LineControl::Handshake : LineControl::Disable;
    return ApplyAndStore(port);
}

int SetDtr(SerialPort& port, bool on) {
    PlatformBlock& b = Block(port);
    b.settings.dtrControl = on ? LineControl::Enable : LineControl::Disable;
    SetModemLine(b.fd, TIOCM_DTR, on);
    return kSerialOk;
}

int SetRts(SerialPort& port, bool on) {
    PlatformBlock& b = Block(port);
    b.settings.rtsControl = on ? LineControl::Enable : LineControl::Disable;
    SetModemLine(b.fd, TIOCM_RTS, on);
    return kSerialOk;
}

int PurgeTx(SerialPort& port) {
    if (tcflush(Block(port).fd, TCOFLUSH) != 0)
        return Fail(port, MapPlatformError(errno));
    return kSerialOk;
}

// A device without modem status lines (a pseudo-terminal) has carrier until the other side hangs up.
int ModemStatus(SerialPort& port) {
    PlatformBlock& b = Block(port);
    int lines = 0;
    if (ioctl(b.fd, TIOCMGET, &lines) == 0)
        return ((lines & TIOCM_CTS) ? kModemCts : 0) | ((lines & TIOCM_DSR) ? kModemDsr : 0) |
               ((lines & TIOCM_RNG) ? kModemRi : 0) | ((lines & TIOCM_CAR) ? kModemCarrier : 0);
    pollfd p{b.fd, POLLIN, 0};
    if (poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return 0;
    return kModemCts | kModemDsr | kModemCarrier;
}

int LineStatus(SerialPort& port) {
    PlatformBlock& b = Block(port);
    PollLineErrors(b);
    return ((b.errors & kErrBreak) ? kLineBreak : 0) | ((b.errors & kErrFrame) ? kLineFraming : 0) |
           ((b.errors & kErrOverrun) ? kLineOverrun : 0) | ((b.errors & kErrRxParity) ? kLineParity : 0);
}

int ClearErrors(SerialPort& port) {
    Block(port).errors = 0;
    return kSerialOk;
}

int SendBreak(SerialPort& port, int ms) {
    int fd = Block(port).fd;
    ioctl(fd, TIOCSBRK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ioctl(fd, TIOCCBRK);
    return kSerialOk;
}

std::string Line(const char* format, auto... values) {
    char text[160];
    snprintf(text, sizeof text, format, values...);
    return text;
}

int PortDump(SerialPort& port, const LineCallback& line) {
    PlatformBlock& b = Block(port);
    PollLineErrors(b);
    const PortSettings& s = b.settings;
    int lineStatus = LineStatus(port);
    int modem = ModemStatus(port);
    auto bit = [](uint32_t value, uint32_t mask) { return (value & mask) ? 1 : 0; };
    int rts = static_cast<int>(s.rtsControl), dtr = static_cast<int>(s.dtrControl);
    line("");
    line(Line("Port type:  MS Windows  DCB BaudRate: %-6d  ByteSize: %1d  Parity: %1d", static_cast<int>(s.baud),
              s.byteSize, s.parity));
    line(Line("StopBits: %1d fBinary: %1d  fRtsControl: %1d", s.stopBits, s.binary ? 1 : 0, rts));
    line(Line("Parity: %1d  OutCtsFlow: %1d  OutDsrFlow: %1d  DtrControl: %1d  OutX: %1d  InX: %1d",
              s.parityCheck ? 1 : 0, s.outCtsFlow ? 1 : 0, s.outDsrFlow ? 1 : 0, dtr, s.outX ? 1 : 0,
              s.inX ? 1 : 0));
    line(Line("Null: %1d  DtrControl: %1d  RtsControl: %1d  XonChar: %02x  XoffChar: %02x", s.nullStrip ? 1 : 0, dtr,
              rts, static_cast<unsigned char>(s.xonChar), static_cast<unsigned char>(s.xoffChar)));
    line(Line("XonLim: %-5u XoffLim: %-5u EofChr: %02x  EvtChr: %02x", unsigned{s.xonLimit}, unsigned{s.xoffLimit},
              static_cast<unsigned char>(s.eofChar), static_cast<unsigned char>(s.evtChar)));
    line(Line("RX count/free: %5d/%-5d  TX count/free: %5d/%-5d  BREAK/FE/OE/PE: %d%d%d%d", RxCount(port),
              RxFree(port), TxCount(port), TxFree(port), bit(lineStatus, kLineBreak), bit(lineStatus, kLineFraming),
              bit(lineStatus, kLineOverrun), bit(lineStatus, kLineParity)));
    line(Line("CE_BREAK:%d  CE_FRAME:%d  CE_MODE:%d CE_OVERRUN:%d", bit(b.errors, kErrBreak), bit(b.errors, kErrFrame),
              bit(b.errors, kErrMode), bit(b.errors, kErrOverrun)));
    line(Line("CE_RXOVER:%d CE_RXPARITY:%d CE_TXFULL:%d  CTS/DSR/RI/CD: %d%d%d%d", bit(b.errors, kErrRxOver),
              bit(b.errors, kErrRxParity), bit(b.errors, kErrTxFull), bit(modem, kModemCts), bit(modem, kModemDsr),
              bit(modem, kModemRi), bit(modem, kModemCarrier)));
    line(Line("8250:%04.4x", unsigned{b.hardwareRegister}));
    return kSerialOk;
}

} // namespace

int MapPlatformError(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
    case ENOTTY:
        return kSerialNoSuchPort;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
        return kSerialPortInUse;
    case ENOMEM:
        return kSerialOutOfMemory;
    case EBADF:
        return kSerialInvalidPort;
    default:
        return kSerialGeneralError;
    }
}

int PosixOpenDevice(SerialPort& port, const std::string& device) {
    PlatformBlock& b = Block(port);
    b.inputSize = kSerialBufferSize;
    b.outputSize = kSerialBufferSize;
    b.errors = 0;
    if (device.empty())
        return kSerialNoSuchPort;
    b.fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (b.fd < 0)
        return MapPlatformError(errno);
    // Not shared: a second open of the same device, by this process or another, finds it in use.
    if (flock(b.fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(b.fd, &b.saved) != 0) {
        int status = MapPlatformError(errno);
        close(b.fd);
        b.fd = -1;
        return status;
    }
    b.haveSaved = true;
    PortSettings& s = b.settings;
    s.binary = true;
    s.parityCheck = false;
    s.outCtsFlow = false;
    s.outDsrFlow = false;
    s.dtrControl = LineControl::Enable;
    s.rtsControl = LineControl::Enable;
    s.nullStrip = false;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    s.xonLimit = static_cast<uint16_t>(b.inputSize / 4);
    s.xoffLimit = static_cast<uint16_t>(b.inputSize / 4);
    s.eofChar = 0;
    s.evtChar = 0;
    // A raw line: XON/XOFF stays off whatever the device's last user left (a TAP terminal's DC3 must not stop
    // the output).
    s.outX = false;
    s.inX = false;
    PollLineErrors(b);
    return kSerialOk;
}

int PosixSetParameters(SerialPort& port, long baud, char parity, int wordLength, int stopBits) {
    PlatformBlock& b = Block(port);
    if (baud > kSerialMaxBaud)
        return Fail(port, kSerialIllegalBaud);
    b.settings.baud = static_cast<uint32_t>(baud);
    b.settings.byteSize = static_cast<uint8_t>(wordLength);
    switch (parity) {
    case 'E': case 'e': b.settings.parity = 2; break;
    case 'M': case 'm': b.settings.parity = 3; break;
    case 'N': case 'n': b.settings.parity = 0; break;
    case 'O': case 'o': b.settings.parity = 1; break;
    case 'S': case 's': b.settings.parity = 4; break;
    default: return Fail(port, kSerialIllegalParity);
    }
    if (stopBits == 1)
        b.settings.stopBits = 0;
    else if (stopBits == 2)
        b.settings.stopBits = 2;
    else
        return Fail(port, kSerialIllegalStopBits);
    if (wordLength < 5 || wordLength > 8)
        return Fail(port, kSerialIllegalWordLength);
    if (baud <= 0)
        return Fail(port, kSerialIllegalBaud);
    int status = ApplySettings(port);
    port.status = status;
    return status;
}

void InstallPosixOperations(SerialOperations& ops) {
    ops.ReadChar = ReadChar;
    ops.WriteChar = WriteChar;
    ops.Close = Close;
    ops.SetParameters = PosixSetParameters;
    ops.SetXonXoff = SetXonXoff;
    ops.SetRtsCts = SetRtsCts;
    ops.SetDtrDsr = SetDtrDsr;
    ops.SetDtr = SetDtr;
    ops.SetRts = SetRts;
    ops.TxFree = TxFree;
    ops.TxCount = TxCount;
    ops.RxFree = RxFree;
    ops.RxCount = RxCount;
    ops.PurgeTx = PurgeTx;
    ops.WriteBlock = WriteBlock;
    ops.ReadBlock = ReadBlock;
    ops.PortDump = PortDump;
    ops.SendBreak = SendBreak;
    ops.ModemStatus = ModemStatus;
    ops.LineStatus = LineStatus;
    ops.ClearErrors = ClearErrors;
}

} // namespace brimlow
