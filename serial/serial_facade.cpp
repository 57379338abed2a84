#include "serial/serial_facade.h"

namespace brimlow {

int CarrierDetect(SerialPort& port, int) {
    int status = port.ops.ModemStatus(port);
    return status < 0 ? status : (status & kModemCarrier);
}

int ClearBuffers(SerialPort& port, int which) {
    int status = kSerialOk;
    if (which == kClearInput || which == (kClearInput | kClearOutput))
        status = DrainInput(port);
    if (which == kClearOutput || which == (kClearInput | kClearOutput)) {
        int purged = PurgeTx(port);
        status = status < 0 ? status : purged;
    }
    return status;
}

int DrainInput(SerialPort& port) {
    char scratch[64];
    for (;;) {
        int status = port.ops.ReadBlock(port, scratch, sizeof scratch);
        if (status < 0 && status != kSerialRxEmpty)
            return status;
        if (port.lastCount == 0)
            return kSerialOk;
    }
}

bool IsTxFull(SerialPort& port) { return port.ops.TxFree(port) == 0; }

bool IsRxEmpty(SerialPort& port) { return port.ops.RxCount(port) == 0; }

} // namespace brimlow
