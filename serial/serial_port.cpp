#include "serial/serial_port.h"

#include "serial/posix_driver.h"

#include <cstdlib>
#include <mutex>
#include <new>

namespace brimlow {
namespace {

std::mutex& OpenListLock() {
    static std::mutex lock;
    return lock;
}

SerialPort* g_openPorts = nullptr;

void Link(SerialPort& port) {
    static bool exitRoutineRegistered = false;
    std::lock_guard lock(OpenListLock());
    if (!exitRoutineRegistered) {
        exitRoutineRegistered = true;
        std::atexit([] {
            for (;;) {
                SerialPort* head;
                {
                    std::lock_guard inner(OpenListLock());
                    head = g_openPorts;
                }
                if (!head)
                    return;
                head->ops.Close(*head);
            }
        });
    }
    port.next = g_openPorts;
    g_openPorts = &port;
}

void Unlink(SerialPort& port) {
    std::lock_guard lock(OpenListLock());
    for (SerialPort** link = &g_openPorts; *link; link = &(*link)->next) {
        if (*link == &port) {
            *link = port.next;
            port.next = nullptr;
            return;
        }
    }
}

// The failure object is shared by every caller, so its status stays as it was made.
int Unsupported(SerialPort& port) {
    if (&port != &SerialFailureObject())
        port.status = kSerialNotSupported;
    return kSerialNotSupported;
}

int DefaultClose(SerialPort& port) {
    if (&port == &SerialFailureObject())
        return kSerialOk;
    Unlink(port);
    delete port.platform;
    delete &port;
    return kSerialOk;
}

int DefaultPortDump(SerialPort&, const LineCallback& line) {
    if (line)
        line("Port dump not supported for this driver");
    return kSerialNotSupported;
}

int ResetStatus(SerialPort& port) {
    if (&port != &SerialFailureObject())
        port.status = kSerialOk;
    return kSerialOk;
}

SerialOperations MakeDefaults() {
    SerialOperations ops;
    ops.ReadChar = Unsupported;
    ops.Reserved1 = Unsupported;
    ops.WriteChar = [](SerialPort& p, int) { return Unsupported(p); };
    ops.Close = DefaultClose;
    ops.SetParameters = [](SerialPort& p, long, char, int, int) { return Unsupported(p); };
    ops.SetXonXoff = [](SerialPort& p, bool) { return Unsupported(p); };
    ops.SetRtsCts = ops.SetXonXoff;
    ops.SetDtrDsr = ops.SetXonXoff;
    ops.SetDtr = ops.SetXonXoff;
    ops.SetRts = ops.SetXonXoff;
    ops.TxFree = Unsupported;
    ops.TxCount = Unsupported;
    ops.RxFree = Unsupported;
    ops.RxCount = Unsupported;
    ops.PurgeTx = Unsupported;
    ops.WriteBlock = [](SerialPort& p, const void*, int) { return Unsupported(p); };
    ops.ReadBlock = [](SerialPort& p, void*, int) { return Unsupported(p); };
    ops.PortDump = DefaultPortDump;
    ops.SendBreak = [](SerialPort& p, int) { return Unsupported(p); };
    ops.ModemStatus = Unsupported;
    ops.LineStatus = Unsupported;
    ops.ClearErrors = Unsupported;
    ops.Reserved2 = Unsupported;
    ops.ResetStatus = ResetStatus;
    return ops;
}

} // namespace

const SerialOperations& DefaultSerialOperations() {
    static const SerialOperations defaults = MakeDefaults();
    return defaults;
}

SerialPort& SerialFailureObject() {
    static SerialPort failure = [] {
        SerialPort port;
        port.ops = DefaultSerialOperations();
        port.portNumber = -1;
        port.driverKind = -1;
        port.status = kSerialOutOfMemory;
        return port;
    }();
    return failure;
}

SerialPort* SerialOpen(const std::string& device, int portNumber, long baud, char parity, int wordLength,
                       int stopBits) {
    SerialPort* port = new (std::nothrow) SerialPort();
    if (!port)
        return &SerialFailureObject();
    port->ops = DefaultSerialOperations();
    Link(*port);
    port->platform = new (std::nothrow) PlatformBlock();
    if (!port->platform) {
        Unlink(*port);
        delete port;
        return &SerialFailureObject();
    }
    port->portNumber = portNumber;
    port->driverKind = kPosixDriverKind;
    port->status = portNumber < 0 ? kSerialInvalidPort : PosixOpenDevice(*port, device);
    if (port->status < 0)
        return port;
    PosixSetParameters(*port, baud, parity, wordLength, stopBits);
    InstallPosixOperations(port->ops);
    return port;
}

std::string SerialDeviceFor(const std::array<std::string, 4>& comDevices, int portNumber) {
    if (portNumber < 0)
        return {};
    if (portNumber < static_cast<int>(comDevices.size()))
        return comDevices[portNumber];
    return "/dev/ttyS" + std::to_string(portNumber);
}

int SerialOpenPortCount() {
    std::lock_guard lock(OpenListLock());
    int count = 0;
    for (SerialPort* p = g_openPorts; p; p = p->next)
        ++count;
    return count;
}

} // namespace brimlow
