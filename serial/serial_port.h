#pragma once
// A serial port as an object with a table of operations. Opening installs the one driver there is (POSIX
// termios) over defaults that answer "not supported"; every operation reports a SerialStatus, never errno.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <termios.h>

namespace brimlow {

// Shown to the operator in "Failed to open port %d.  Status = %d", so the values are fixed.
enum SerialStatus : int32_t {
    kSerialOk = 0,
    kSerialGeneralError = -1,
    kSerialInvalidPort = -2,
    kSerialPortInUse = -3,
    kSerialOutOfMemory = -5,
    kSerialRxEmpty = -8,
    kSerialTxFull = -9,
    kSerialNoSuchPort = -14,
    kSerialNotSupported = -24,
    kSerialIllegalBaud = -25,
    kSerialIllegalParity = -26,
    kSerialIllegalWordLength = -27,
    kSerialIllegalStopBits = -28,
};

constexpr int kSerialBufferSize = 1050;
constexpr long kSerialMaxBaud = 115200;
constexpr int32_t kPosixDriverKind = 15;

// Modem status bits.
constexpr int kModemCts = 0x10;
constexpr int kModemDsr = 0x20;
constexpr int kModemRi = 0x40;
constexpr int kModemCarrier = 0x80;

// Line status bits.
constexpr int kLineOverrun = 0x02;
constexpr int kLineParity = 0x04;
constexpr int kLineFraming = 0x08;
constexpr int kLineBreak = 0x10;

// Accumulated line error bits, as the desktop COM driver numbers them.
constexpr uint32_t kErrRxOver = 0x0001;
constexpr uint32_t kErrOverrun = 0x0002;
constexpr uint32_t kErrRxParity = 0x0004;
constexpr uint32_t kErrFrame = 0x0008;
constexpr uint32_t kErrBreak = 0x0010;
constexpr uint32_t kErrTxFull = 0x0100;
constexpr uint32_t kErrMode = 0x8000;

enum class LineControl : uint8_t { Disable = 0, Enable = 1, Handshake = 2 };

// The port settings record that PortDump prints.
struct PortSettings {
    uint32_t baud = 0;
    bool binary = true;
    bool parityCheck = false;
    bool outCtsFlow = false;
    bool outDsrFlow = false;
    LineControl dtrControl = LineControl::Enable;
    bool dsrSensitivity = false;
    bool continueOnXoff = false;
    bool outX = false;
    bool inX = false;
    bool errorChar = false;
    bool nullStrip = false;
    LineControl rtsControl = LineControl::Enable;
    bool abortOnError = false;
    uint16_t xonLimit = 0;
    uint16_t xoffLimit = 0;
    uint8_t byteSize = 8;
    uint8_t parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits = 0; // 0 one, 2 two
    char xonChar = 0x11;
    char xoffChar = 0x13;
    char errorCharValue = 0;
    char eofChar = 0;
    char evtChar = 0;
};

// What the driver keeps per open port.
struct PlatformBlock {
    int inputSize = kSerialBufferSize;
    int outputSize = kSerialBufferSize;
    PortSettings settings;
    uint32_t errors = 0; // OR of every error mask seen
    int fd = -1;
    termios saved{}; // restored on close
    bool haveSaved = false;
    // The device stores fewer data bits or no parity than asked (a pseudo-terminal): the layer frames each
    // byte itself, masking the data bits and carrying the parity bit above them.
    bool softFraming = false;
    // Error counters of the device at the last look, where it reports them.
    bool haveCounters = false;
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    uint16_t hardwareRegister = 0;
};

struct SerialPort;
using LineCallback = std::function<void(const std::string&)>;

// In slot order.
struct SerialOperations {
    int (*ReadChar)(SerialPort&);
    int (*Reserved1)(SerialPort&);
    int (*WriteChar)(SerialPort&, int c);
    int (*Close)(SerialPort&);
    int (*SetParameters)(SerialPort&, long baud, char parity, int wordLength, int stopBits);
    int (*SetXonXoff)(SerialPort&, bool on);
    int (*SetRtsCts)(SerialPort&, bool on);
    int (*SetDtrDsr)(SerialPort&, bool on);
    int (*SetDtr)(SerialPort&, bool on);
    int (*SetRts)(SerialPort&, bool on);
    int (*TxFree)(SerialPort&);
    int (*TxCount)(SerialPort&);
    int (*RxFree)(SerialPort&);
    int (*RxCount)(SerialPort&);
    int (*PurgeTx)(SerialPort&);
    int (*WriteBlock)(SerialPort&, const void* data, int length);
    int (*ReadBlock)(SerialPort&, void* buffer, int length);
    int (*PortDump)(SerialPort&, const LineCallback& line);
    int (*SendBreak)(SerialPort&, int ms);
    int (*ModemStatus)(SerialPort&);
    int (*LineStatus)(SerialPort&);
    int (*ClearErrors)(SerialPort&);
    int (*Reserved2)(SerialPort&);
    int (*ResetStatus)(SerialPort&);
};

struct SerialPort {
    PlatformBlock* platform = nullptr; // owned
    SerialPort* next = nullptr;        // the process-wide list of open ports
    int32_t portNumber = -1;           // 0 = COM1
    int32_t status = kSerialOk;        // of the last failing operation
    int32_t driverKind = -1;
    int32_t lastCount = 0; // bytes moved by the last block read or write
    SerialOperations ops{};
};

// The defaults: every slot answers -24 except Close, PortDump and the status reset.
const SerialOperations& DefaultSerialOperations();

// The static object returned when an allocation fails: defaults only, port -1, driver -1, status -5.
SerialPort& SerialFailureObject();

// Opens the device behind port number portNumber (0 = COM1). Never null; the caller tests status (negative =
// failed) and releases the port with its Close operation in every case.
SerialPort* SerialOpen(const std::string& device, int portNumber, long baud, char parity, int wordLength,
                       int stopBits);

// The device of a COM port: COM1..COM4 from the given devices, higher ports /dev/ttyS<n>; empty for a
// negative port number.
std::string SerialDeviceFor(const std::array<std::string, 4>& comDevices, int portNumber);

// Open ports, for the process-exit routine and tests.
int SerialOpenPortCount();

} // namespace brimlow
